#include "data/rtf.h"

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>

#include <gtest/gtest.h>

namespace {

const QString kFixtures = QStringLiteral(MERIDOC_RTF_FIXTURES);

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

QString readText(const QByteArray &rtf) {
    QTextDocument doc;
    rtf::read(rtf, doc);
    return doc.toPlainText();
}

// One line per formatting property that is set, in a fixed order, so that a
// failure shows what differs.
QString describe(const QTextCharFormat &f) {
    QStringList parts;
    if (f.fontWeight() > QFont::Medium)
        parts << "bold";
    if (f.fontItalic())
        parts << "italic";
    if (f.fontUnderline())
        parts << "underline";
    if (f.hasProperty(QTextFormat::FontPointSize))
        parts << QString::number(f.fontPointSize()) + "pt";
    if (f.hasProperty(QTextFormat::ForegroundBrush))
        parts << f.foreground().color().name();
    const QStringList families = f.fontFamilies().toStringList();
    if (!families.isEmpty())
        parts << families.join(',');
    return parts.join(' ');
}

// The format of the first character of `word` in the document.
QString formatOfWord(const QTextDocument &doc, const QString &word) {
    const qsizetype at = doc.toPlainText().indexOf(word);
    if (at < 0)
        return "(missing)";
    QTextCursor c(const_cast<QTextDocument *>(&doc));
    c.setPosition(static_cast<int>(at) + 1);
    return describe(c.charFormat());
}

// The text with, after each character whose format differs from the one
// before, that format in brackets.
QString textWithFormats(const QTextDocument &doc) {
    QString out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b != doc.begin())
            out += "\n";
        for (auto it = b.begin(); !it.atEnd(); ++it)
            out += "[" + describe(it.fragment().charFormat()) + "]" + it.fragment().text();
    }
    return out;
}

QStringList fixtureInputs() {
    QStringList inputs;
    const QFileInfoList entries = QDir(kFixtures).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &fi : entries) {
        if (fi.suffix() != "expected" && fi.suffix() != "sh")
            inputs << fi.absoluteFilePath();
    }
    return inputs;
}

} // namespace

// ---- reader: the corpus ---------------------------------------------------

TEST(RtfReader, ShowsWhatAPersonSeesForEveryFixture) {
    const QStringList inputs = fixtureInputs();
    ASSERT_GE(inputs.size(), 30) << "fixture folder " << kFixtures.toStdString();
    for (const QString &input : inputs) {
        const QFileInfo fi(input);
        const QString expectedPath = fi.path() + "/" + fi.completeBaseName() + ".expected";
        ASSERT_TRUE(QFile::exists(expectedPath)) << expectedPath.toStdString();
        QString expected = QString::fromUtf8(fileBytes(expectedPath));
        if (expected.endsWith('\n'))
            expected.chop(1);
        EXPECT_EQ(readText(fileBytes(input)).toStdString(), expected.toStdString())
            << "fixture " << fi.fileName().toStdString();
    }
}

TEST(RtfReader, MapsCharacterFormatsFromFilesOfOtherPrograms) {
    const struct {
        const char *file;
        const char *word;
        const char *format;
    } cases[] = {
        {"lo_formatting.rtf", "Plain", ""},
        {"lo_formatting.rtf", "bold", "bold"},
        {"lo_formatting.rtf", "italic", "italic"},
        {"lo_formatting.rtf", "underlined", "underline"},
        {"lo_formatting.rtf", "all three", "bold italic underline"},
        {"lo_formatting.rtf", "Twenty", "20pt"},
        {"lo_formatting.rtf", "eight", "8pt"},
        {"lo_formatting.rtf", "Red", "#ff0000"},
        {"lo_formatting.rtf", "blue", "#0000ff"},
        {"lo_formatting.rtf", "green", "#008000"},
        {"lo_formatting.rtf", "Monospaced", "DejaVu Sans Mono"},
        {"lo_formatting.rtf", "sans", "DejaVu Sans"},
        {"pandoc_document.rtf", "A heading", "bold 18pt"},
        {"pandoc_document.rtf", "emphasis", "italic"},
        {"pandoc_document.rtf", "strong", "bold"},
        {"pandoc_document.rtf", "code", "Courier"},
        {"pandoc_document.rtf", "link", "underline"},
        {"enscript_highlight.rtf", "/* A comment", "italic #b22222"},
        {"enscript_highlight.rtf", "int", "bold #228b22"},
        {"enscript_highlight.rtf", "main", "bold #0000ff"},
        {"latex_article.rtf", "bold", "bold 10pt"},
        {"latex_article.rtf", "emphasised", "italic 10pt"},
        {"lo_paragraphs.rtf", "link to", "underline #000080"},
    };
    for (const auto &c : cases) {
        QTextDocument doc;
        rtf::read(fileBytes(kFixtures + "/" + c.file), doc);
        EXPECT_EQ(formatOfWord(doc, c.word).toStdString(), c.format) << c.file << ": " << c.word;
    }
}

// ---- reader: rules the corpus does not pin down ------------------------------

TEST(RtfReader, KeepsFormatsToTheirGroupsAndResetsThemWithPlain) {
    const struct {
        const char *rtf;
        const char *expected;
    } cases[] = {
        {R"({\rtf1 a{\b b{\i c}d}e})", "[]a[bold]b[bold italic]c[bold]d[]e"},
        {R"({\rtf1 \b a\b0 b\ul c\ulnone d\ul e\ul0 f})",
         "[bold]a[]b[underline]c[]d[underline]e[]f"},
        {R"({\rtf1 \b\i\ul\fs30 a\plain b})", "[bold italic underline 15pt]a[]b"},
        {R"({\rtf1{\colortbl;\red1\green2\blue3;}\cf1 a\cf0 b\cf7 c})", "[#010203]a[]bc"},
        // The default font shows in the viewer's font; other fonts by name,
        // whether or not the table puts each font in a group of its own.
        {R"({\rtf1\deff1{\fonttbl\f0\fswiss Arial;\f1 Times;}\f0 a\f1 b\f9 c})", "[Arial]a[]bc"},
        {R"({\rtf1{\fonttbl{\f2 Mono{\*\falt Courier};}}\f2 a})", "[Mono]a"},
        // Font names lose control characters and ';' but keep other escapes.
        {R"({\rtf1{\fonttbl{\f1 Bad\'0fName\u59?\~X;}}\f1 a})", "[BadName\u00a0X]a"},
        // Hidden text and its paragraph marks do not show.
        {R"({\rtf1 a{\v b\par c}d\par e})", "[]ad\n[]e"},
        // A page or section break ends a paragraph that has text, only.
        {R"({\rtf1 a\page b\par\sect c\sect})", "[]a\n[]b\n[]c"},
    };
    for (const auto &c : cases) {
        QTextDocument doc;
        rtf::read(c.rtf, doc);
        EXPECT_EQ(textWithFormats(doc).toStdString(), c.expected) << c.rtf;
    }
}

TEST(RtfReader, TurnsCharactersTheDocumentCannotHoldIntoHarmlessOnes) {
    const struct {
        const char *rtf;
        QString expected;
    } cases[] = {
        // A surrogate pair from two \u words; lone halves become U+FFFD.
        {R"({\rtf1 \u-10179?\u-8704?})", QString::fromUtf8("\xf0\x9f\x98\x80")},
        {R"({\rtf1 a\u-10179?b})", QStringLiteral("a\ufffdb")},
        // Characters QTextDocument uses for its own structure, and controls.
        {R"({\rtf1 a\u-560?\u-1?\u1?\u13?b})", QStringLiteral("a\ufffd\ufffdb")},
        {R"({\rtf1 a\u8233?b})", QStringLiteral("a\u2028b")},
    };
    for (const auto &c : cases) {
        QTextDocument doc;
        rtf::read(c.rtf, doc);
        EXPECT_EQ(doc.toRawText(), c.expected) << c.rtf;
    }
}

TEST(RtfReader, ReplacesWhatTheDocumentHeldBefore) {
    QTextDocument doc;
    doc.setPlainText("old text\nold line");
    rtf::read(R"({\rtf1 new\par})", doc);
    EXPECT_EQ(doc.toPlainText(), "new");
    EXPECT_EQ(doc.blockCount(), 1);
    EXPECT_FALSE(doc.isUndoAvailable());
}

// ---- reader: hostile input ------------------------------------------------------

TEST(RtfReader, StaysFastAndSmallOnPathologicalInput) {
    const int n = 400'000;
    // `count` copies of `pattern`, each with its '#' replaced by its number.
    const auto numbered = [](const QByteArray &pattern, int count) {
        QByteArray out;
        for (int i = 0; i < count; ++i)
            out += QByteArray(pattern).replace('#', QByteArray::number(i));
        return out;
    };
    const struct {
        const char *name;
        QByteArray rtf;
        int maxBlocks;
    } cases[] = {
        {"deep groups", "{\\rtf1 a" + QByteArray(n, '{') + "b" + QByteArray(n, '}') + "c}", 1},
        {"unclosed groups", "{\\rtf1 " + QByteArray(n, '{') + "x", 1},
        {"paragraph marks", "{\\rtf1 " + QByteArray("\\par x").repeated(n / 4), n / 4 + 1},
        {"unicode escapes", "{\\rtf1\\uc16 " + QByteArray("\\u12354 ").repeated(n / 4), 1},
        {"code-page bytes", "{\\rtf1\\ansicpg932 " + QByteArray("\\'81A").repeated(n / 4), 1},
        {"long control word", "{\\rtf1 \\" + QByteArray(n, 'a') + " x}", 1},
        {"long parameter", "{\\rtf1 \\fs" + QByteArray(n, '9') + " x}", 1},
        {"table cells", "{\\rtf1 " + QByteArray("\\cell ").repeated(n / 5) + "x}", 1},
        {"format runs", "{\\rtf1 " + QByteArray("{\\b a}{\\i b}").repeated(n / 20) + "}", 1},
        {"colour table", "{\\rtf1{\\colortbl" + QByteArray(n, ';') + "}x}", 1},
        {"distinct fonts",
         "{\\rtf1{\\fonttbl" + numbered("{\\f# F#;}", n / 20) + "}" + numbered("{\\f# x}", n / 20) +
             "}",
         1},
        {"distinct sizes", "{\\rtf1 " + numbered("{\\fs# x}", n / 20) + "}", 1},
    };
    for (const auto &c : cases) {
        QTextDocument doc;
        doc.documentLayout(); // laid out, as in a text edit
        QElapsedTimer timer;
        timer.start();
        rtf::read(c.rtf, doc);
        EXPECT_LT(timer.elapsed(), 10'000) << c.name;
        EXPECT_LE(doc.blockCount(), c.maxBlocks) << c.name;
        EXPECT_LE(doc.characterCount(), c.rtf.size()) << c.name;
    }
}

TEST(RtfReader, SurvivesEveryCutAndRandomDamageOfTheCorpus) {
    QRandomGenerator random(20240611);
    for (const QString &input : fixtureInputs()) {
        const QByteArray bytes = fileBytes(input);
        for (qsizetype cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 64)
            readText(bytes.left(cut));
        for (int round = 0; round < 20; ++round) {
            QByteArray damaged = bytes;
            for (int i = 0; i < 8 && !damaged.isEmpty(); ++i)
                damaged[random.bounded(damaged.size())] = static_cast<char>(random.bounded(256));
            QTextDocument doc;
            rtf::read(damaged, doc);
            EXPECT_LE(doc.characterCount(), damaged.size() + 1);
        }
    }
}

// ---- writer ----------------------------------------------------------------------

TEST(RtfWriter, WritesTablesHeaderAndSevenBitText) {
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextCharFormat red;
    red.setForeground(QColor(200, 10, 20));
    red.setFontFamilies({"DejaVu Serif"});
    c.insertText("x", red);
    const QByteArray out = rtf::write(doc);
    EXPECT_TRUE(out.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0")) << out.constData();
    EXPECT_TRUE(out.contains("{\\fonttbl{\\f0")) << out.constData();
    EXPECT_TRUE(out.contains("{\\f1\\fnil\\fcharset0 DejaVu Serif;}")) << out.constData();
    EXPECT_TRUE(out.contains("{\\colortbl;\\red200\\green10\\blue20;}")) << out.constData();
    EXPECT_TRUE(out.contains("{\\cf1\\f1 x}")) << out.constData();
    EXPECT_TRUE(out.trimmed().endsWith('}'));
}

TEST(RtfWriter, EscapesCharactersAsOtherReadersExpect) {
    const struct {
        QString text;
        const char *written;
    } cases[] = {
        {"a\\b{c}d", "a\\\\b\\{c\\}d"},
        {QStringLiteral("caf\u00e9 \u20ac\u0152"), "caf\\'e9 \\'80\\'8c"},
        {QStringLiteral("\u03a9\ud55c"), "\\u937?\\u-10916?"},
        {QString::fromUtf8("\xf0\x9f\x98\x80"), "\\u-10179?\\u-8704?"},
        {QStringLiteral("a\tb\u2028c\u00a0d\u2011e\u00adf"), "a\\tab b\\line c\\~d\\_e\\'adf"},
    };
    for (const auto &c : cases) {
        QTextDocument doc;
        QTextCursor(&doc).insertText(c.text);
        const QByteArray out = rtf::write(doc);
        EXPECT_TRUE(out.contains(c.written)) << c.written << " in " << out.constData();
        for (char byte : out)
            ASSERT_LT(static_cast<unsigned char>(byte), 0x80) << out.constData();
    }
}

TEST(RtfWriter, ReadingWhatItWroteGivesBackTextAndFormats) {
    QTextDocument doc;
    QTextCursor c(&doc);
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat mixed;
    mixed.setFontItalic(true);
    mixed.setFontUnderline(true);
    mixed.setFontPointSize(11.5);
    mixed.setForeground(QColor("#123456"));
    mixed.setFontFamilies({QStringLiteral("Caf\u00e9\u00a0Sans {1}")});
    QTextCharFormat defaultFamily;
    defaultFamily.setFontFamilies({doc.defaultFont().family()});
    defaultFamily.setFontPointSize(30);

    c.insertText("", plain);
    c.insertBlock(); // an empty first paragraph
    c.insertText("plain ", plain);
    c.insertText("bold", bold);
    c.insertText(" mixed{}\\", mixed);
    c.insertText(" same family as the default", defaultFamily);
    c.insertBlock();
    c.insertText(QStringLiteral("tab\there\u2028line \u00e9\u20ac \u03a9 \U0001F600 end"), plain);
    c.insertBlock();
    c.insertBlock(); // an empty paragraph in the middle and one at the end
    c.insertText("last", bold);
    c.insertBlock();

    QTextDocument back;
    rtf::read(rtf::write(doc), back);
    EXPECT_EQ(textWithFormats(back).toStdString(), textWithFormats(doc).toStdString());
    EXPECT_EQ(back.blockCount(), doc.blockCount());
}

TEST(RtfWriter, RoundTripKeepsEveryFixtureAsItWasRead) {
    for (const QString &input : fixtureInputs()) {
        QTextDocument first;
        rtf::read(fileBytes(input), first);
        QTextDocument second;
        rtf::read(rtf::write(first), second);
        EXPECT_EQ(textWithFormats(second).toStdString(), textWithFormats(first).toStdString())
            << input.toStdString();
    }
}

TEST(RtfWriter, WritesEmptyDocumentsTablesAndListsReadably) {
    QTextDocument empty;
    EXPECT_EQ(readText(rtf::write(empty)), "");

    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText("before");
    QTextTable *table = c.insertTable(2, 2);
    table->cellAt(0, 0).firstCursorPosition().insertText("a");
    table->cellAt(0, 1).firstCursorPosition().insertText("b");
    table->cellAt(1, 1).firstCursorPosition().insertText("d");
    EXPECT_EQ(readText(rtf::write(doc)), "before\na\tb\n\td\n");

    QTextDocument list;
    QTextCursor l(&list);
    l.createList(QTextListFormat::ListDisc);
    l.insertText("one");
    l.insertBlock();
    l.insertText("two");
    l.insertList(QTextListFormat::ListDecimal);
    l.insertText("three");
    EXPECT_EQ(readText(rtf::write(list)), QStringLiteral("\u2022\tone\n\u2022\ttwo\n1.\tthree"));
}

// Paragraphs appended before the final brace; every byte before it stays, whatever the document
// holds; input that is not RTF or has no final brace is left to the caller.
TEST(RtfAppend, KeepsTheDocumentByteForByte) {
    const QByteArray rich =
        "{\\rtf1\\ansi{\\pict\\pngblip 89504e47}\\qc{\\field{\\*\\fldinst HYPERLINK "
        "\"https://example.org\"}{\\fldrslt here}}\\par\n}";
    const struct {
        QByteArray bytes;
        std::optional<QByteArray> expected;
    } rows[] = {
        {rich, rich.chopped(1) + "\n\\pard\\plain\\uc1 E-mail: a@b\\par\n\\pard\\plain\\uc1 "
                                 "J\\u246?rg \\{\\}\\\\\\par\n}"},
        {"{\\rtf1 Kept}\r\n\0", "{\\rtf1 Kept\\par\n\\pard\\plain\\uc1 E-mail: a@b\\par\n"
                                "\\pard\\plain\\uc1 J\\u246?rg \\{\\}\\\\\\par\n}\r\n"},
        {"{\\rtf1 a\\\\par}", "{\\rtf1 a\\\\par\\par\n\\pard\\plain\\uc1 E-mail: a@b\\par\n"
                              "\\pard\\plain\\uc1 J\\u246?rg \\{\\}\\\\\\par\n}"},
        {"plain text\n", std::nullopt},
        {"{\\rtf1 cut off", std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bytes.toStdString());
        const auto out =
            rtf::appendParagraphs(row.bytes, {"E-mail: a@b", QStringLiteral("Jörg {}\\")});
        EXPECT_EQ(out.value_or("none").toStdString(), row.expected.value_or("none").toStdString());
    }
}

// A line is found among the bytes of plain paragraphs only where the document read from them
// holds it as a line of its own; files of other programs, other code pages, hidden or skipped
// text and lines that do not come back whole are left to the document.
TEST(RtfParagraphs, FoundOnlyWhereTheDocumentHoldsTheLine) {
    QTextDocument first;
    first.setPlainText(QStringLiteral("Zoë € Smith\tx"));
    const QByteArray ours =
        *rtf::appendParagraphs(rtf::write(first), {QStringLiteral("Name: Дмитрий"), "a {b} \\c"});
    const QByteArray head = ours.left(ours.indexOf("\\pard"));
    const struct {
        QByteArray bytes;
        QString line;
        bool found;
    } rows[] = {
        {ours, QStringLiteral("Zoë € Smith\tx"), true},
        {ours, QStringLiteral("Name: Дмитрий"), true},
        {ours, "a {b} \\c", true},
        {ours, "Name", false},
        {"{\\rtf1\\ansi \\pard\\plain Kept\\par\n}", "Kept", false},
        {head + "\\pard\\plain {\\*\\x \n\\pard\\plain Gone\\par\n}\n}\n", "Gone", false},
        {head + "\\pard\\plain \\v\n\\pard\\plain Shown\\par\n}\n", "Shown", false},
        {head + "\\pard\\plain x\\\\par\n}\n", "x", false},
        {QByteArray(head).replace("1252", "1251") + "\\pard\\plain \\'e9\\par\n}\n", "é", false},
        {head + "\\pard\\plain a\\line b\\par\n}\n", QStringLiteral("a\u2028b"), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bytes.toStdString());
        const auto paragraphs = rtf::plainParagraphs(row.bytes);
        const bool found = paragraphs && rtf::holdsParagraph(*paragraphs, row.line);
        EXPECT_EQ(found, row.found);
        QTextDocument doc;
        rtf::read(row.bytes, doc);
        EXPECT_TRUE(!found || doc.toPlainText().split('\n').contains(row.line));
    }
}
