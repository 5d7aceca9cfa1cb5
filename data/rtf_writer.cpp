// RTF writer: RTF 1.x as word processors read it. Every paragraph is written
// as \pard ... \par; each run with formatting sits in a group of its own, so
// no formatting leaks from one run to the next.

#include "data/rtf.h"

#include "data/text.h"

#include <QColor>
#include <QHash>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>

#include <cctype>
#include <cmath>
#include <vector>

namespace rtf {

namespace {

void appendControl(QByteArray &out, const char *word, int value) {
    out.append('\\').append(word).append(QByteArray::number(value));
}

// Escapes text for an RTF body: ASCII as is, \ { } escaped, other characters
// as \'hh when Windows-1252 holds them, otherwise \uN? (surrogate pairs as
// two \u). Tabs, line separators and special spaces become control words.
void appendText(QByteArray &out, const QString &text) {
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        switch (c) {
        case '\\':
        case '{':
        case '}':
            out.append('\\').append(static_cast<char>(c));
            continue;
        case '\t':
            out.append("\\tab ");
            continue;
        case QChar::LineSeparator:
        case QChar::ParagraphSeparator:
            out.append("\\line ");
            continue;
        case QChar::Nbsp:
            out.append("\\~");
            continue;
        case 0x2011:
            out.append("\\_");
            continue;
        case QChar::ObjectReplacementCharacter:
            continue; // images and other objects are not kept
        default:
            break;
        }
        if (c < 0x20 || c == 0x7F)
            continue;
        if (c < 0x7F) {
            out.append(static_cast<char>(c));
            continue;
        }
        const QByteArray single = meridoc::text::toCp1252(QString(qc));
        if (single != "?") {
            static const char hex[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(single[0]);
            out.append("\\'").append(hex[byte >> 4]).append(hex[byte & 0xF]);
            continue;
        }
        appendControl(out, "u", static_cast<qint16>(c));
        out.append('?');
    }
}

// The families and colours of a document, numbered for the two tables. Each is found again
// through a hash, so a document with many of them is written in linear time.
struct Tables {
    QStringList families; // font 0 is the document's default font
    std::vector<QRgb> colors;
    QHash<QString, int> familyNumbers; // the families after font 0
    QHash<QRgb, int> colorNumbers;

    int fontIndex(const QString &family) {
        if (const auto it = familyNumbers.constFind(family); it != familyNumbers.cend())
            return *it;
        families.append(family);
        return familyNumbers[family] = static_cast<int>(families.size() - 1);
    }
    int colorIndex(QRgb rgb) {
        if (const auto it = colorNumbers.constFind(rgb); it != colorNumbers.cend())
            return *it;
        colors.push_back(rgb);
        return colorNumbers[rgb] = static_cast<int>(colors.size()); // index 0 is "automatic"
    }
};

QString familyOf(const QTextCharFormat &f) {
    if (f.hasProperty(QTextFormat::FontFamilies)) {
        const QStringList families = f.property(QTextFormat::FontFamilies).toStringList();
        if (!families.isEmpty() && !families.first().isEmpty())
            return families.first();
    }
    if (f.hasProperty(QTextFormat::FontFamily))
        return f.stringProperty(QTextFormat::FontFamily);
    return QString();
}

bool hasColor(const QTextCharFormat &f) {
    return f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush;
}

// Control words for one run; empty when the run has no formatting.
QByteArray runWords(const QTextCharFormat &f, Tables &tables) {
    QByteArray words;
    if (f.hasProperty(QTextFormat::FontWeight) && f.fontWeight() > QFont::Medium)
        words.append("\\b");
    if (f.fontItalic())
        words.append("\\i");
    if (f.fontUnderline())
        words.append("\\ul");
    if (f.hasProperty(QTextFormat::FontPointSize) && f.fontPointSize() > 0)
        appendControl(words, "fs",
                      std::max(1, static_cast<int>(std::lround(f.fontPointSize() * 2))));
    if (hasColor(f))
        appendControl(words, "cf", tables.colorIndex(f.foreground().color().rgb()));
    const QString family = familyOf(f);
    if (!family.isEmpty())
        appendControl(words, "f", tables.fontIndex(family));
    return words;
}

class Writer {
public:
    explicit Writer(const QTextDocument &doc) : doc_(doc) {
        QString family = doc.property(DefaultFontProperty).toString();
        if (family.isEmpty())
            family = doc.defaultFont().family();
        tables_.families.append(family.isEmpty() ? QStringLiteral("Sans") : family);
    }

    QByteArray run();

private:
    void writeFrame(QTextFrame *frame);
    void writeTable(QTextTable *table);
    void writeBlockContent(const QTextBlock &block);
    QByteArray header() const;

    const QTextDocument &doc_;
    Tables tables_;
    QByteArray body_;
};

QByteArray Writer::run() {
    writeFrame(doc_.rootFrame());
    return header() + body_ + "}\n";
}

void Writer::writeFrame(QTextFrame *frame) {
    for (auto it = frame->begin(); !it.atEnd(); ++it) {
        if (QTextFrame *child = it.currentFrame()) {
            if (auto *table = qobject_cast<QTextTable *>(child))
                writeTable(table);
            else
                writeFrame(child);
            continue;
        }
        const QTextBlock block = it.currentBlock();
        if (!block.isValid())
            continue;
        body_.append("\\pard\\plain ");
        writeBlockContent(block);
        body_.append("\\par\n");
    }
}

// Each row becomes \trowd ... \row with one \cell per column; paragraphs
// inside a cell are separated by \par.
void Writer::writeTable(QTextTable *table) {
    for (int r = 0; r < table->rows(); ++r) {
        body_.append("\\trowd");
        for (int c = 0; c < table->columns(); ++c)
            appendControl(body_, "cellx", (c + 1) * 2000);
        body_.append('\n');
        for (int c = 0; c < table->columns(); ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            body_.append("\\pard\\plain\\intbl ");
            if (cell.row() == r && cell.column() == c) {
                bool first = true;
                for (QTextBlock b = doc_.findBlock(cell.firstPosition());
                     b.isValid() && b.position() <= cell.lastPosition(); b = b.next()) {
                    if (!first)
                        body_.append("\\par ");
                    writeBlockContent(b);
                    first = false;
                }
            }
            body_.append("\\cell ");
        }
        body_.append("\\row\n");
    }
}

void Writer::writeBlockContent(const QTextBlock &block) {
    if (QTextList *list = block.textList()) {
        // Bullet styles have no item text of their own; they are drawn.
        QString marker;
        switch (list->format().style()) {
        case QTextListFormat::ListDisc:
            marker = QChar(0x2022);
            break;
        case QTextListFormat::ListCircle:
            marker = QChar(0x25E6);
            break;
        case QTextListFormat::ListSquare:
            marker = QChar(0x25AA);
            break;
        default:
            marker = list->itemText(block).trimmed();
            break;
        }
        body_.append("{\\listtext ");
        appendText(body_, marker);
        body_.append("\\tab }");
    }
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid())
            continue;
        const QByteArray words = runWords(fragment.charFormat(), tables_);
        if (words.isEmpty()) {
            appendText(body_, fragment.text());
        } else {
            body_.append('{').append(words).append(' ');
            appendText(body_, fragment.text());
            body_.append('}');
        }
    }
}

QByteArray Writer::header() const {
    QByteArray out("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl");
    for (qsizetype i = 0; i < tables_.families.size(); ++i) {
        QString name = tables_.families[i];
        name.remove(QChar(';')); // ';' ends a font name and cannot be escaped
        out.append("{");
        appendControl(out, "f", static_cast<int>(i));
        out.append("\\fnil\\fcharset0 ");
        appendText(out, name);
        out.append(";}");
    }
    out.append("}\n{\\colortbl;");
    for (QRgb rgb : tables_.colors) {
        appendControl(out, "red", qRed(rgb));
        appendControl(out, "green", qGreen(rgb));
        appendControl(out, "blue", qBlue(rgb));
        out.append(';');
    }
    out.append("}\n");
    return out;
}

} // namespace

QByteArray write(const QTextDocument &doc) {
    Writer writer(doc);
    return writer.run();
}

namespace {

// True when the RTF before `end` ends a paragraph: its last control word, past closing braces
// and blanks, is \par.
bool endsWithPar(const QByteArray &bytes, qsizetype end) {
    while (end > 0 &&
           (std::isspace(static_cast<unsigned char>(bytes[end - 1])) || bytes[end - 1] == '}'))
        --end;
    if (end < 4 || bytes.sliced(end - 4, 4) != "\\par")
        return false;
    qsizetype slashes = 0; // "\\\\par" is an escaped backslash followed by text
    for (qsizetype i = end - 4; i >= 0 && bytes[i] == '\\'; --i)
        ++slashes;
    return slashes % 2 == 1;
}

// Text for a document of unknown code page and \uc setting: ASCII as it is, everything else
// as \uN with one '?' for readers that skip it.
void appendPortable(QByteArray &out, const QString &text) {
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == '\\' || c == '{' || c == '}')
            out.append('\\').append(static_cast<char>(c));
        else if (c == '\t')
            out.append("\\tab ");
        else if (c < 0x20 || c == 0x7F)
            out.append(' ');
        else if (c < 0x80)
            out.append(static_cast<char>(c));
        else
            out.append("\\u").append(QByteArray::number(static_cast<qint16>(c))).append('?');
    }
}

} // namespace

std::optional<QByteArray> appendParagraphs(const QByteArray &bytes, const QStringList &paragraphs) {
    if (!bytes.startsWith("{\\rtf"))
        return std::nullopt;
    qsizetype end = bytes.size();
    while (end > 0 &&
           (bytes[end - 1] == '\0' || std::isspace(static_cast<unsigned char>(bytes[end - 1]))))
        --end;
    if (end == 0 || bytes[end - 1] != '}')
        return std::nullopt;
    --end; // the final brace
    QByteArray added = endsWithPar(bytes, end) ? "\n" : "\\par\n";
    for (const QString &paragraph : paragraphs) {
        added.append("\\pard\\plain\\uc1 ");
        appendPortable(added, paragraph);
        added.append("\\par\n");
    }
    return bytes.first(end) + added + bytes.sliced(end);
}

namespace {

// Whether a paragraph's text holds only what appendText() and appendPortable() write: printable
// ASCII, escaped braces and backslashes, \'hh, \uN?, "\tab ", "\line ", \~ and \_. Nothing in
// it then changes how the text after it is read.
bool onlyCharacters(QByteArrayView text) {
    const auto isHex = [&](qsizetype i) {
        return i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' || c == '}' || c < 0x20 || c > 0x7E)
            return false;
        if (c != '\\')
            continue;
        if (++i == text.size())
            return false;
        if (QByteArrayView("\\{}~_").contains(text[i]))
            continue;
        if (text[i] == '\'' && isHex(i + 1) && isHex(i + 2)) {
            i += 2;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end])))
            ++end;
        const QByteArrayView word = text.sliced(i, end - i);
        const bool spaced = end < text.size() && text[end] == ' ';
        if ((word == "tab" || word == "line") && spaced) {
            i = end;
            continue;
        }
        qsizetype digits = end < text.size() && text[end] == '-' ? end + 1 : end;
        const qsizetype first = digits;
        while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
            ++digits;
        if (word != "u" || digits == first || digits == text.size() || text[digits] != '?')
            return false;
        i = digits;
    }
    return true;
}

} // namespace

std::optional<QSet<QByteArray>> plainParagraphs(const QByteArray &bytes) {
    static const QByteArray head("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"
                                 "{\\fonttbl{\\f0\\fnil\\fcharset0 ");
    static const QByteArray tables(";}}\n{\\colortbl;}\n");
    if (!bytes.startsWith(head))
        return std::nullopt;
    const qsizetype body = bytes.indexOf(tables, head.size());
    if (body < 0)
        return std::nullopt;
    for (const char c : QByteArrayView(bytes).sliced(head.size(), body - head.size()))
        if (QByteArrayView("{}\\;\n").contains(c))
            return std::nullopt;
    QSet<QByteArray> paragraphs;
    for (qsizetype at = body + tables.size(); at < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', at);
        end = end < 0 ? bytes.size() : end;
        QByteArrayView line = QByteArrayView(bytes).sliced(at, end - at);
        at = end + 1;
        if (line.isEmpty())
            continue;
        if (line == "}") // the final brace ends the file
            return at >= bytes.size() ? std::optional(paragraphs) : std::nullopt;
        if (line.startsWith("\\pard\\plain\\uc1 "))
            line = line.sliced(16);
        else if (line.startsWith("\\pard\\plain "))
            line = line.sliced(12);
        else
            return std::nullopt;
        if (!line.endsWith("\\par") || !onlyCharacters(line.chopped(4)))
            return std::nullopt;
        paragraphs.insert(line.chopped(4).toByteArray());
    }
    return std::nullopt;
}

bool holdsParagraph(const QSet<QByteArray> &paragraphs, const QString &text) {
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == '\t' || (c >= 0x20 && c < 0x7F))
            continue;
        if (c < 0xA0 || qc.isSurrogate() || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator || c == QChar::ObjectReplacementCharacter ||
            c == 0xFDD0 || c == 0xFDD1 || c >= 0xFFFE)
            return false;
    }
    QByteArray written, portable;
    appendText(written, text);
    appendPortable(portable, text);
    return paragraphs.contains(written) || paragraphs.contains(portable);
}

} // namespace rtf
