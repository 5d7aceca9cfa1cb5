// The writer's RTF as another program reads it: pandoc (Debian's package) must
// find the same text and the same bold, italic and underline runs. pandoc 2.17
// mishandles the blank after \uN?, so only text that Windows-1252 holds, written
// as \'hh, is compared.

#include "data/rtf.h"
#include "data/text.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

QString pandoc(const QByteArray &rtf, const char *to) {
    QProcess p;
    p.start("pandoc", {"-f", "rtf", "-t", to, "--wrap=none"});
    if (!p.waitForStarted())
        return "(pandoc did not start)";
    p.write(rtf);
    p.closeWriteChannel();
    p.waitForFinished(60'000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Lines with their white space collapsed, empty lines left out: paragraphs
// and line breaks are compared, spacing and blank lines between paragraphs
// are not.
QStringList lines(QString text) {
    text.replace(QChar::Nbsp, ' ');
    text.remove(QChar(0x00AD));
    text.replace(QChar::LineSeparator, '\n');
    QStringList out;
    for (const QString &line : text.split('\n')) {
        const QString simple = line.simplified();
        if (!simple.isEmpty())
            out << simple;
    }
    return out;
}

bool windows1252Holds(const QString &text) {
    return meridoc::text::fromCp1252(meridoc::text::toCp1252(text)) == text;
}

class RtfPandoc : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(QStandardPaths::findExecutable("pandoc").isEmpty())
            << "pandoc is not installed (scripts/install-deps.sh --test installs it)";
    }
};

} // namespace

TEST_F(RtfPandoc, FindsTheSameTextInEveryFixtureTheWriterRewrote) {
    int compared = 0;
    const QString fixtures = QStringLiteral(MERIDOC_RTF_FIXTURES);
    for (const QFileInfo &fi : QDir(fixtures).entryInfoList({"*.rtf", "*.txt"}, QDir::Files)) {
        QFile f(fi.absoluteFilePath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QTextDocument doc;
        rtf::read(f.readAll(), doc);
        if (!windows1252Holds(doc.toPlainText()))
            continue;
        EXPECT_EQ(lines(pandoc(rtf::write(doc), "plain")), lines(doc.toPlainText()))
            << fi.fileName().toStdString();
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

TEST_F(RtfPandoc, SeesTheFormattedRuns) {
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextCharFormat plain, bold, italic, underline, sized;
    bold.setFontWeight(QFont::Bold);
    italic.setFontItalic(true);
    underline.setFontUnderline(true);
    sized.setFontPointSize(20);
    sized.setForeground(QColor(Qt::red));
    sized.setFontFamilies({"DejaVu Sans Mono"});
    c.insertText("plain ", plain);
    c.insertText(QStringLiteral("bold caf\u00e9"), bold);
    c.insertText(" and ", plain);
    c.insertText("italic", italic);
    c.insertText(" and ", plain);
    c.insertText("under", underline);
    c.insertText(" and ", plain);
    c.insertText("big red mono", sized);
    c.insertBlock();
    c.insertText("tab\tline\u2028break {braces} \\ back", plain);

    const QString html = pandoc(rtf::write(doc), "html");
    EXPECT_TRUE(html.contains(QStringLiteral("<strong>bold caf\u00e9</strong>")))
        << html.toStdString();
    EXPECT_TRUE(html.contains("<em>italic</em>")) << html.toStdString();
    EXPECT_TRUE(html.contains("<u>under</u>")) << html.toStdString();
    EXPECT_TRUE(html.contains("and big red mono</p>")) << html.toStdString();
    EXPECT_TRUE(html.contains("line<br />\nbreak {braces} \\ back</p>")) << html.toStdString();
}
