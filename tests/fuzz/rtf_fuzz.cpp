// libFuzzer target for the RTF reader. Besides crashes, hangs and sanitizer
// reports it checks the writer against the reader: whatever the reader makes
// of the input must come back unchanged from read(write(doc)).

#include "data/rtf.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <cstdio>
#include <cstdlib>

namespace {

QString describe(const QTextDocument &doc) {
    QString out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        out += QChar('\n');
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            out +=
                QStringLiteral("[%1%2%3 %4 %5 %6]")
                    .arg(f.fontWeight() > QFont::Medium)
                    .arg(f.fontItalic())
                    .arg(f.fontUnderline())
                    .arg(f.fontPointSize())
                    .arg(f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color().name()
                                                                     : QString())
                    .arg(f.fontFamilies().toStringList().join(','));
            out += it.fragment().text();
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char name[] = "rtf_fuzz";
    static char *qtArgv[] = {name, nullptr};
    new QGuiApplication(qtArgc, qtArgv); // lives for the whole run
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QTextDocument doc;
    rtf::read(bytes, doc);
    if (doc.characterCount() > static_cast<int>(size) + 1) {
        std::fprintf(stderr, "output larger than input: %d characters from %zu bytes\n",
                     doc.characterCount(), size);
        std::abort();
    }
    QTextDocument again;
    rtf::read(rtf::write(doc), again);
    const QString first = describe(doc);
    const QString second = describe(again);
    if (first != second) {
        std::fprintf(stderr, "round trip differs:\n%s\n----\n%s\n", qPrintable(first),
                     qPrintable(second));
        std::abort();
    }
    return 0;
}
