#include "cards/contact.h"
#include "data/text.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace meridoc;
using namespace meridoc::cards;

namespace {

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "LINE: NAME | SURNAME | PHONE1 | PHONE2 | COMMENTS", then "  + extra line" for each extra line.
QString describe(const Contact &contact) {
    const MappedEntry e = mapContact(contact);
    QStringList fields;
    for (const QByteArray &f : e.fields)
        fields += text::fromCp1252(f);
    QString out =
        QStringLiteral("%1: %2\n").arg(contact.line).arg(fields.join(QLatin1String(" | ")));
    for (const QString &line : e.extraLines)
        out += QStringLiteral("  + ") + line + u'\n';
    return out;
}

// Reads a vCard or CSV input, with a CSV column map given as "FIELD=Header" lines.
QString readAll(const QByteArray &bytes, bool vcard, const QString &mapText = {}) {
    QString out;
    const auto sink = [&out](Contact &&c) {
        out += describe(c);
        return true;
    };
    CsvMap map;
    for (const QString &line : mapText.split(u'\n', Qt::SkipEmptyParts))
        map.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    const auto error = vcard ? readVCards(bytes, sink) : readCsv(bytes, map, sink);
    if (error)
        out += QStringLiteral("error %1: %2\n").arg(error->line).arg(error->reason);
    return out;
}

// Every fixture file against the entries and extra lines written beside it.
TEST(CardsReaders, FixtureCorpus) {
    const QDir dir(QStringLiteral(MERIDOC_CARDS_FIXTURES));
    const QStringList inputs = dir.entryList({"*.vcf", "*.csv"}, QDir::Files, QDir::Name);
    ASSERT_GE(inputs.size(), 10);
    for (const QString &name : inputs) {
        SCOPED_TRACE(name.toStdString());
        const QString base = dir.filePath(QFileInfo(name).completeBaseName());
        const QByteArray bytes = readFile(dir.filePath(name));
        EXPECT_EQ(looksLikeVCard(bytes), name.endsWith(QLatin1String(".vcf")));
        const QString actual = readAll(bytes, looksLikeVCard(bytes),
                                       QString::fromUtf8(readFile(base + QStringLiteral(".map"))));
        EXPECT_EQ(actual.toStdString(),
                  QString::fromUtf8(readFile(base + QStringLiteral(".expected"))).toStdString());
    }
}

// Each malformed input is refused at its line with its reason.
TEST(CardsReaders, MalformedInputs) {
    const struct {
        bool vcard;
        const char *input;
        const char *map; // CSV only
        int line;
        const char *reason;
    } rows[] = {
        {true, "BEGIN:VCARD\nFN:A B\nEND:VCARD\nBEGIN:VCARD\nFN:C D\n", "", 4,
         "card without END:VCARD"},
        {true, "\r\nEND:VCARD\r\n", "", 2, "END:VCARD without BEGIN:VCARD"},
        {true, "BEGIN:VCARD\nFN:A\nBEGIN:VCARD\nEND:VCARD\n", "", 3, "BEGIN:VCARD inside a card"},
        {true, "BEGIN:VCARD\nFN:A\nthis is no property\nEND:VCARD\n", "", 3, "not a property"},
        {true, "BEGIN:VCARD\nEND:VCARD\nFN:stray\n", "", 3, "property outside a card"},
        {true, "BEGIN:VCARD\nFN:A\nEND:VCALENDAR\n", "", 3, "END:VCALENDAR inside a card (line 1)"},
        {true, "BEGIN:VCALENDAR\nEND:VCALENDAR\n", "", 1, "is not a vCard"},
        {true, "BEGIN:VCARD\nNOTE;ENCODING=QUOTED-PRINTABLE:caf=E\nEND:VCARD\n", "", 2,
         "invalid quoted-printable"},
        {true, "BEGIN:VCARD\nFN;CHARSET=X-NO-SUCH:A\nEND:VCARD\n", "", 2,
         "unknown charset X-NO-SUCH"},
        {false, "First Name,Notes\nAnn,ok\nBo,\"never\nclosed\n", "", 3,
         "without its closing quote"},
        {false, "Foo,Bar\n1,2\n", "", 1, "unknown CSV header; use --map"},
        {false, "First Name,Last Name\nAnn,Lee,extra\n", "", 2,
         "row has 3 fields, the header has 2"},
        {false, "Forename,Surname\nAnn,Lee\n", "SURNAME=Family", 1,
         "no column \"Family\" for SURNAME"},
        {false, "Forename,Surname\nAnn,Lee\n", "EMAIL=Surname", 1, "unknown field \"EMAIL\""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input);
        const QByteArray bytes(row.input);
        const QString out = readAll(bytes, row.vcard, QString::fromUtf8(row.map));
        const QString last = out.trimmed().section(u'\n', -1);
        EXPECT_TRUE(last.startsWith(QStringLiteral("error %1: ").arg(row.line)))
            << last.toStdString();
        EXPECT_TRUE(last.contains(QLatin1String(row.reason))) << last.toStdString();
    }
}

Contact contactOf(const QString &given, const QString &family, const QString &note = {}) {
    Contact c;
    c.given = given;
    c.family = family;
    c.note = note;
    return c;
}

// Whatever does not fit the record, one kind a row: the fields, the extra lines, the losses.
TEST(CardsReaders, MappingOverflow) {
    const QString longNote = QStringLiteral("Fifty-one characters are one more than COMMENTS has");
    const struct {
        const char *kind;
        Contact contact;
        QStringList fields; // NAME, SURNAME, PHONE1, PHONE2, COMMENTS
        QStringList extraLines;
        int losses;
    } rows[] = {
        {"nothing lost",
         contactOf("Ann", "Lee", "Short note"),
         {"Ann", "Lee", "", "", "Short note"},
         {},
         0},
        {"long name, cut at a space",
         contactOf("Maximilian Alexander Theodor", "Lee"),
         {"Maximilian Alexander", "Lee", "", "", ""},
         {"Name: Maximilian Alexander Theodor"},
         1},
        {"outside Windows-1252",
         contactOf(QStringLiteral("Łucja"), "Nowak"),
         {"?ucja", "Nowak", "", "", ""},
         {QStringLiteral("Name: Łucja")},
         1},
        {"formatted name only",
         Contact{{}, {}, "Mary Ann  Evans", {}, {}, {}, {}, 1},
         {"Mary Ann", "Evans", "", "", ""},
         {},
         0},
        {"organisation only",
         Contact{{}, {}, {}, {}, {}, {{"Organisation", "Blue Whale Inc."}}, {}, 1},
         {"", "Blue Whale Inc.", "", "", ""},
         {"Organisation: Blue Whale Inc."},
         1},
        {"note cut, further lines verbatim, trailing blank lines dropped",
         contactOf("Ann", "Lee", longNote + "\n  second\n\nfourth\n\n"),
         {"Ann", "Lee", "", "", longNote.left(50)},
         {"Note: " + longNote, "  second", "", "fourth"},
         2},
        {"note outside Windows-1252",
         contactOf("Ann", "Lee", QStringLiteral("Tel Aviv שלום")),
         {"Ann", "Lee", "", "", "Tel Aviv ????"},
         {QStringLiteral("Note: Tel Aviv שלום")},
         1},
        {"phones ordered, third moved, fax last",
         Contact{"Ann",
                 "Lee",
                 {},
                 {{"1", {"work", "fax"}}, {"2", {"work"}}, {"3", {"home"}}, {"4", {"cell"}}},
                 {},
                 {},
                 {},
                 1},
         {"Ann", "Lee", "4", "3", ""},
         {"Phone (work): 2", "Phone (work, fax): 1"},
         2},
        {"phone too long",
         Contact{"Ann",
                 "Lee",
                 {},
                 {{"+1 555 555 0101 ext. 1234", {"pref", "voice"}, true}},
                 {},
                 {},
                 {},
                 1},
         {"Ann", "Lee", "+1 555 555 0101 ext.", "", ""},
         {"Phone: +1 555 555 0101 ext. 1234"},
         1},
        {"details ordered e-mail, address, others",
         Contact{"Ann",
                 "Lee",
                 {},
                 {},
                 "Note",
                 {{"Birthday", "1990-01-02"},
                  {"Address (home)", "1 Road\nTown"},
                  {"E-mail", "ann@example.com"}},
                 {},
                 1},
         {"Ann", "Lee", "", "", "Note"},
         {"E-mail: ann@example.com", "Address (home): 1 Road, Town", "Birthday: 1990-01-02"},
         3},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.kind);
        const MappedEntry e = mapContact(row.contact);
        QStringList fields;
        for (const QByteArray &f : e.fields)
            fields += text::fromCp1252(f);
        EXPECT_EQ(fields, row.fields);
        EXPECT_EQ(e.extraLines, row.extraLines);
        EXPECT_EQ(e.losses.size(), row.losses) << e.losses.join(u'|').toStdString();
    }
}

} // namespace
