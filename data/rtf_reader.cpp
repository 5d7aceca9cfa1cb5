// RTF reader: a single pass over the bytes with an explicit group stack.
//
// Robustness rules: every step of the main loop consumes at least one byte;
// control words and parameters have bounded lengths and parameters saturate;
// \binN and \ucN are clamped; the group stack stops growing at kMaxDepth but
// braces are still counted so the text after a deep nest lands correctly.
// Output never exceeds a small multiple of the input.

#include "data/rtf.h"

#include "data/rtf_codepage.h"
#include "data/rtf_words.h"
#include "data/text.h"

#include <QColor>
#include <QHash>
#include <QSet>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace rtf {

namespace {

constexpr int kMaxDepth = 1000;
constexpr int kMaxWordLength = 32;
constexpr int kMaxParameter = 1'000'000'000;
constexpr int kMaxFallback = 16;
constexpr int kMaxHalfPoints = 3276; // 1638 pt, the largest size word processors accept

// Where the text of the current group goes.
enum class Dest : unsigned char { Text, Skip, FontTable, ColorTable };

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool hidden = false;
    int halfPoints = 0; // 0: not given
    int color = 0;      // colour-table index; 0 is "automatic"
    int font = -1;      // font-table number; -1 is the document's default font

    bool operator==(const CharState &) const = default;
};

struct GroupState {
    CharState chars;
    Dest dest = Dest::Text;
    int uc = 1; // fallback characters that follow each \uN
};

struct FontEntry {
    QString name;
    int codePage = 0; // 0: the document's code page
};

bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Removes what QTextDocument must not receive as text: characters it uses for
// its own structure, stray surrogates, and control characters other than tab
// and the line separator.
QString sanitized(QString text) {
    const qsizetype n = text.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            out.append(c);
            out.append(text.at(++i));
            continue;
        }
        if (c.isSurrogate() || u == 0xFDD0 || u == 0xFDD1 || u == 0xFFFC || u == 0xFFFE ||
            u == 0xFFFF) {
            out.append(QChar(QChar::ReplacementCharacter));
            continue;
        }
        if (u == QChar::ParagraphSeparator || u == 0x000B) {
            out.append(QChar(QChar::LineSeparator));
            continue;
        }
        if ((u < 0x20 && u != '\t') || u == 0x7F)
            continue;
        out.append(c);
    }
    return out;
}

// Text collected for one run: decoded characters plus code-page bytes not yet
// decoded (a two-byte character may arrive as two separate \'hh).
struct Pending {
    QString text;
    QByteArray bytes;
    int bytesCodePage = 0;
    bool trailDue = false; // the bytes end inside a two-byte character

    void appendByte(unsigned char b, int codePage, codepage::Decoders &decoders) {
        if (codePage != bytesCodePage)
            flushBytes(decoders);
        bytesCodePage = codePage;
        trailDue = !trailDue && codepage::isLeadByte(codePage, b);
        bytes.append(static_cast<char>(b));
    }
    void appendChar(QChar c, codepage::Decoders &decoders) {
        flushBytes(decoders);
        text.append(c);
    }
    void flushBytes(codepage::Decoders &decoders) {
        trailDue = false;
        if (bytes.isEmpty())
            return;
        text.append(decoders.decode(bytes, bytesCodePage));
        bytes.clear();
    }
};

class Reader {
public:
    Reader(const QByteArray &bytes, QTextDocument &doc)
        : pos_(bytes.constData()), end_(bytes.constData() + bytes.size()), cursor_(&doc) {}

    // `start` points just past the opening brace of the document group.
    void run(const char *start);

private:
    GroupState &top() { return stack_.back(); }

    void openGroup();
    bool closeGroup(); // true when the document group has closed
    void controlWord();
    void controlSymbol(unsigned char c);
    void hexByte();
    void textByte(unsigned char c);
    void apply(const WordEntry &entry, bool hasParam, int param);

    // Consumes one fallback unit after \uN; true when it was swallowed.
    bool swallowFallback() {
        if (fallback_ <= 0)
            return false;
        --fallback_;
        return true;
    }

    // Text output.
    int codePage() const;
    int fontNameCodePage() const { return fontCodePage_ ? fontCodePage_ : docCodePage_; }
    // Opens the output for the next character: inserts pending paragraph
    // breaks and cell separators and switches the run to the current format.
    // False while the text is hidden.
    bool beginOutput(bool evenHidden = false);
    void emitChar(char16_t c);
    void emitByte(unsigned char b);
    // `insideCell` is false for the break that ends a table row.
    void paragraphBreak(bool insideCell = true);
    void flushRun();
    void finish();
    QTextCharFormat formatOf(const CharState &s);
    bool admitFont(const QString &family, int halfPoints);

    // Font and colour tables.
    void commitFont();
    void commitColor();

    const char *pos_;
    const char *end_;
    std::vector<GroupState> stack_;
    int overflow_ = 0; // groups opened beyond kMaxDepth
    int footnotes_ = 0;
    int fallback_ = 0; // fallback units still to skip after \uN

    int docCodePage_ = codepage::Windows1252;
    int defaultFont_ = 0;
    QHash<int, FontEntry> fonts_;
    std::vector<QColor> colors_;

    // Font table entry being read.
    int fontNumber_ = -1;
    int fontCodePage_ = 0;
    Pending fontName_;
    // Colour table entry being read.
    int red_ = 0, green_ = 0, blue_ = 0;
    bool colorGiven_ = false;

    // Output state.
    QTextCursor cursor_;
    codepage::Decoders decoders_;
    Pending run_;
    CharState runChars_;
    int pendingPars_ = 0;
    int parsSinceContent_ = 0; // the trailing part of pendingPars_ that \par made
    bool pendingCell_ = false;
    bool paraHasContent_ = false;

    // The distinct fonts (family and size) handed to the document so far. Each new font costs
    // Qt more the more it already holds, so past MaxDistinctFonts the text of further ones gets
    // the default font and any input loads in seconds.
    static constexpr qsizetype MaxDistinctFonts = 256;
    QSet<QString> fontsUsed_;
};

void Reader::run(const char *start) {
    pos_ = start;
    stack_.reserve(64);
    stack_.push_back(GroupState{});
    while (pos_ < end_) {
        const auto c = static_cast<unsigned char>(*pos_++);
        switch (c) {
        case '{':
            openGroup();
            break;
        case '}':
            if (closeGroup()) {
                finish();
                return;
            }
            break;
        case '\\':
            if (pos_ < end_) {
                const auto next = static_cast<unsigned char>(*pos_);
                if (isAsciiLetter(next))
                    controlWord();
                else
                    controlSymbol(static_cast<unsigned char>(*pos_++));
            }
            break;
        case '\r':
        case '\n':
            break;
        default:
            textByte(c);
            break;
        }
    }
    finish(); // the input ended inside the document: keep what was read
}

void Reader::openGroup() {
    fallback_ = 0;
    if (stack_.size() >= static_cast<size_t>(kMaxDepth)) {
        ++overflow_;
        return;
    }
    stack_.push_back(stack_.back());
}

bool Reader::closeGroup() {
    fallback_ = 0;
    if (overflow_ > 0) {
        --overflow_;
        return false;
    }
    const Dest dest = top().dest;
    if (stack_.size() == 1)
        return true;
    stack_.pop_back();
    if (dest == Dest::FontTable)
        commitFont(); // a {\fN ... Name;} entry or the table itself ends
    else if (dest == Dest::ColorTable && top().dest != Dest::ColorTable && colorGiven_)
        commitColor();
    return false;
}

void Reader::controlWord() {
    char word[kMaxWordLength + 1];
    int length = 0;
    bool tooLong = false;
    while (pos_ < end_ && isAsciiLetter(static_cast<unsigned char>(*pos_))) {
        if (length < kMaxWordLength)
            word[length++] = *pos_;
        else
            tooLong = true;
        ++pos_;
    }
    bool hasParam = false;
    bool negative = false;
    long long value = 0;
    if (pos_ < end_ && *pos_ == '-' && pos_ + 1 < end_ &&
        isDigit(static_cast<unsigned char>(pos_[1]))) {
        negative = true;
        ++pos_;
    }
    while (pos_ < end_ && isDigit(static_cast<unsigned char>(*pos_))) {
        hasParam = true;
        if (value < kMaxParameter)
            value = value * 10 + (*pos_ - '0');
        ++pos_;
    }
    if (pos_ < end_ && *pos_ == ' ')
        ++pos_; // the delimiting blank belongs to the control word
    const int param =
        static_cast<int>(std::min<long long>(value, kMaxParameter)) * (negative ? -1 : 1);

    const WordEntry *entry = tooLong ? nullptr : findWord(std::string_view(word, length));
    if (entry && entry->action == Action::Bin) {
        // The data is skipped whatever the destination; it counts as one
        // fallback unit.
        const long long available = end_ - pos_;
        const long long count = hasParam ? std::clamp<long long>(param, 0, available) : 0;
        pos_ += count;
        swallowFallback();
        return;
    }
    if (swallowFallback())
        return;
    if (entry)
        apply(*entry, hasParam, param);
}

void Reader::controlSymbol(unsigned char c) {
    if (c == '\'') {
        hexByte();
        return;
    }
    if (swallowFallback())
        return;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        textByte(c);
        break;
    case '~':
        emitChar(0x00A0);
        break;
    case '_':
        emitChar(0x2011);
        break;
    case '*':
        top().dest = Dest::Skip; // an ignorable destination this reader does not know
        break;
    case '\r':
    case '\n':
        apply({"par", Action::Par}, false, 0);
        break;
    case '\t':
        apply({"tab", Action::Tab}, false, 0);
        break;
    default:
        break; // \- (optional hyphen), \: and others show nothing
    }
}

void Reader::hexByte() {
    int value = 0;
    int digits = 0;
    while (digits < 2 && pos_ < end_) {
        const int h = hexValue(static_cast<unsigned char>(*pos_));
        if (h < 0)
            break;
        value = value * 16 + h;
        ++digits;
        ++pos_;
    }
    if (swallowFallback() || digits == 0)
        return;
    switch (top().dest) {
    case Dest::Text:
        emitByte(static_cast<unsigned char>(value));
        break;
    case Dest::FontTable:
        if (value == ';')
            commitFont();
        else
            fontName_.appendByte(static_cast<unsigned char>(value), fontNameCodePage(), decoders_);
        break;
    default:
        break;
    }
}

void Reader::textByte(unsigned char c) {
    if (swallowFallback())
        return;
    switch (top().dest) {
    case Dest::Text:
        if (c == '\t')
            emitChar('\t');
        else if (c >= 0x80 || (run_.trailDue && c >= 0x20))
            emitByte(c);
        else if (c >= 0x20 && c != 0x7F)
            emitChar(c);
        break;
    case Dest::FontTable:
        if (c == ';') {
            commitFont();
        } else if (c >= 0x80 || (fontName_.trailDue && c >= 0x20)) {
            fontName_.appendByte(c, fontNameCodePage(), decoders_);
        } else if (c >= 0x20) {
            fontName_.appendChar(QChar(c), decoders_);
        }
        break;
    case Dest::ColorTable:
        if (c == ';')
            commitColor();
        break;
    case Dest::Skip:
        break;
    }
}

void Reader::apply(const WordEntry &entry, bool hasParam, int param) {
    GroupState &g = top();
    CharState &chars = g.chars;
    const bool on = !hasParam || param != 0;
    switch (entry.action) {
    case Action::Par:
        if (g.dest == Dest::Text && !chars.hidden)
            paragraphBreak();
        break;
    case Action::Line:
        emitChar(QChar::LineSeparator);
        break;
    case Action::Tab:
        emitChar('\t');
        break;
    case Action::Cell:
        if (g.dest == Dest::Text) {
            // A \par that closes the last paragraph of a cell is part of the
            // cell's end, not an empty paragraph.
            pendingPars_ -= std::min(parsSinceContent_, pendingPars_);
            parsSinceContent_ = 0;
            if (pendingCell_)
                beginOutput(true); // writes the separator of the cell before
            pendingCell_ = true;
        }
        break;
    case Action::Row:
        if (g.dest == Dest::Text)
            paragraphBreak(false);
        break;
    case Action::SoftBreak:
        if (g.dest == Dest::Text && paraHasContent_)
            paragraphBreak();
        break;
    case Action::Char:
        emitChar(entry.value);
        break;
    case Action::FootnoteMark:
        // The automatic number of a footnote; the footnote's own copy of the
        // mark is inside the skipped \footnote group.
        if (g.dest == Dest::Text && !chars.hidden) {
            const QString number = QString::number(++footnotes_);
            for (QChar digit : number)
                emitChar(digit.unicode());
        }
        break;
    case Action::Bold:
        chars.bold = on;
        break;
    case Action::Italic:
        chars.italic = on;
        break;
    case Action::Underline:
        chars.underline = on;
        break;
    case Action::UnderlineNone:
        chars.underline = false;
        break;
    case Action::Hidden:
        chars.hidden = on;
        break;
    case Action::FontSize:
        chars.halfPoints = hasParam && param > 0 ? std::min(param, kMaxHalfPoints) : 0;
        break;
    case Action::Color:
        chars.color = hasParam && param > 0 ? param : 0;
        break;
    case Action::Font:
        if (!hasParam)
            break;
        if (g.dest == Dest::FontTable) {
            commitFont();
            fontNumber_ = param;
            fontCodePage_ = 0;
        } else {
            chars.font = param;
        }
        break;
    case Action::Plain:
        chars = CharState{};
        break;
    case Action::Unicode: {
        if (!hasParam)
            break;
        int code = param;
        if (code < 0 && code >= -32768)
            code += 65536;
        if (code >= 0 && code <= 0xFFFF)
            emitChar(static_cast<char16_t>(code));
        fallback_ = g.uc;
        break;
    }
    case Action::UnicodeSkip:
        if (hasParam)
            g.uc = std::clamp(param, 0, kMaxFallback);
        break;
    case Action::CodePage:
        docCodePage_ = entry.value;
        break;
    case Action::AnsiCpg:
        if (hasParam && param > 0)
            docCodePage_ = param;
        break;
    case Action::DefaultFont:
        if (hasParam)
            defaultFont_ = param;
        break;
    case Action::FontCharset:
        if (g.dest == Dest::FontTable && hasParam && fontCodePage_ == 0)
            fontCodePage_ = codepage::forCharset(param);
        break;
    case Action::FontCodePage:
        if (g.dest == Dest::FontTable && hasParam && param > 0)
            fontCodePage_ = param;
        break;
    case Action::Red:
        red_ = std::clamp(param, 0, 255);
        colorGiven_ = true;
        break;
    case Action::Green:
        green_ = std::clamp(param, 0, 255);
        colorGiven_ = true;
        break;
    case Action::Blue:
        blue_ = std::clamp(param, 0, 255);
        colorGiven_ = true;
        break;
    case Action::FontTable:
        if (g.dest == Dest::Text) {
            g.dest = Dest::FontTable;
            fontNumber_ = -1;
            fontName_ = Pending{};
        }
        break;
    case Action::ColorTable:
        if (g.dest == Dest::Text) {
            g.dest = Dest::ColorTable;
            colors_.clear();
            colorGiven_ = false;
        }
        break;
    case Action::Skip:
        g.dest = Dest::Skip;
        break;
    case Action::Bin:
        break; // handled while reading the word
    }
}

int Reader::codePage() const {
    const int font = stack_.back().chars.font;
    auto it = fonts_.constFind(font >= 0 ? font : defaultFont_);
    if (it != fonts_.constEnd() && it->codePage != 0)
        return it->codePage;
    return docCodePage_;
}

bool Reader::beginOutput(bool evenHidden) {
    const CharState &chars = stack_.back().chars;
    if (chars.hidden && !evenHidden)
        return false;
    if (pendingPars_ > 0) {
        flushRun();
        for (; pendingPars_ > 0; --pendingPars_)
            cursor_.insertBlock(QTextBlockFormat(), QTextCharFormat());
        parsSinceContent_ = 0;
    }
    if (!(chars == runChars_)) {
        flushRun();
        runChars_ = chars;
    }
    if (pendingCell_) {
        pendingCell_ = false;
        run_.appendChar(QChar('\t'), decoders_);
    }
    paraHasContent_ = true;
    return true;
}

void Reader::emitChar(char16_t c) {
    if (top().dest == Dest::FontTable) {
        fontName_.appendChar(QChar(c), decoders_);
        return;
    }
    if (top().dest != Dest::Text || !beginOutput())
        return;
    run_.appendChar(QChar(c), decoders_);
}

void Reader::emitByte(unsigned char b) {
    if (!beginOutput())
        return;
    run_.appendByte(b, codePage(), decoders_);
}

void Reader::paragraphBreak(bool insideCell) {
    pendingCell_ = false;
    ++pendingPars_;
    parsSinceContent_ = insideCell ? parsSinceContent_ + 1 : 0;
    paraHasContent_ = false;
}

void Reader::flushRun() {
    run_.flushBytes(decoders_);
    if (run_.text.isEmpty())
        return;
    cursor_.insertText(sanitized(run_.text), formatOf(runChars_));
    run_.text.clear();
}

void Reader::finish() {
    flushRun();
    if (const auto font = fonts_.constFind(defaultFont_); font != fonts_.cend())
        cursor_.document()->setProperty(DefaultFontProperty, font->name);
    // The last \par ends the last paragraph; it does not open an empty one.
    for (; pendingPars_ > 1; --pendingPars_)
        cursor_.insertBlock(QTextBlockFormat(), QTextCharFormat());
    pendingPars_ = 0;
}

QTextCharFormat Reader::formatOf(const CharState &s) {
    QTextCharFormat f;
    if (s.bold)
        f.setFontWeight(QFont::Bold);
    if (s.italic)
        f.setFontItalic(true);
    if (s.underline)
        f.setFontUnderline(true);
    if (s.color > 0 && static_cast<size_t>(s.color) < colors_.size() && colors_[s.color].isValid())
        f.setForeground(colors_[s.color]);
    QString family;
    if (s.font >= 0 && s.font != defaultFont_) {
        auto it = fonts_.constFind(s.font);
        if (it != fonts_.constEnd())
            family = it->name;
    }
    const int halfPoints = std::max(s.halfPoints, 0);
    if ((!family.isEmpty() || halfPoints > 0) && admitFont(family, halfPoints)) {
        if (!family.isEmpty())
            f.setFontFamilies(QStringList{family});
        if (halfPoints > 0)
            f.setFontPointSize(halfPoints / 2.0);
    }
    return f;
}

bool Reader::admitFont(const QString &family, int halfPoints) {
    const QString key = family + QChar(0) + QString::number(halfPoints);
    if (fontsUsed_.contains(key))
        return true;
    if (fontsUsed_.size() >= MaxDistinctFonts)
        return false;
    fontsUsed_.insert(key);
    return true;
}

void Reader::commitFont() {
    fontName_.flushBytes(decoders_);
    QString name = sanitized(fontName_.text);
    name.removeIf([](QChar c) { return c == '\t' || c == ';' || c == QChar::LineSeparator; });
    name = name.trimmed();
    if (fontNumber_ >= 0 && (!name.isEmpty() || !fonts_.contains(fontNumber_)))
        fonts_.insert(fontNumber_, FontEntry{name, fontCodePage_});
    fontName_ = Pending{};
    if (!name.isEmpty()) {
        fontNumber_ = -1;
        fontCodePage_ = 0;
    }
}

void Reader::commitColor() {
    colors_.push_back(colorGiven_ ? QColor(red_, green_, blue_) : QColor());
    red_ = green_ = blue_ = 0;
    colorGiven_ = false;
}

// Returns the position just past "{\rtf" when the bytes are RTF, after an
// optional byte-order mark and white space; nullptr otherwise.
const char *rtfStart(const QByteArray &bytes) {
    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    if (end - p >= 3 && static_cast<unsigned char>(p[0]) == 0xEF &&
        static_cast<unsigned char>(p[1]) == 0xBB && static_cast<unsigned char>(p[2]) == 0xBF)
        p += 3;
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f'))
        ++p;
    if (end - p >= 5 && std::string_view(p, 5) == "{\\rtf")
        return p + 1; // the \rtf word is read as an ordinary control word
    return nullptr;
}

void readPlainText(const QByteArray &bytes, QTextDocument &doc) {
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QString text = meridoc::text::fromUtf8OrCp1252(body);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    if (text.endsWith(QChar('\n')))
        text.chop(1); // the last line's end does not open another line
    QTextCursor cursor(&doc);
    const QStringList lines = text.split(QChar('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        if (!lines[i].isEmpty())
            cursor.insertText(sanitized(lines[i]), QTextCharFormat());
    }
}

} // namespace

void read(const QByteArray &bytes, QTextDocument &doc) {
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();
    doc.setProperty(DefaultFontProperty, QString());
    // One edit block for the whole load: the document and its views update
    // once at the end instead of after every run, which would cost time in
    // proportion to the paragraph's length for each run.
    QTextCursor batch(&doc);
    batch.beginEditBlock();
    if (const char *start = rtfStart(bytes)) {
        Reader reader(bytes, doc);
        reader.run(start);
    } else {
        readPlainText(bytes, doc);
    }
    batch.endEditBlock();
    doc.setUndoRedoEnabled(undo);
}

} // namespace rtf
