#include "cards/commands.h"
#include "cards/contact.h"
#include "cards/contact_pipe.h"
#include "cards/csv_layout.h"
#include "cards/decoding.h"
#include "cards/input_text.h"
#include "cards/vcard_text.h"
#include "data/text.h"
#include "data/transliteration.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
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
    for (const QString &line : contact.notKept)
        out += QStringLiteral("  - ") + line + u'\n';
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

// Letters and digits only, lower case: what is compared when looking for a value.
QString letters(const QString &s) {
    QString out;
    for (const QChar c : s.toLower())
        if (c.isLetterOrNumber())
            out += c;
    return out;
}

// A value is accounted for when every word of it appears in the entry, its extra-text lines or
// its report, or when the report names the property or column it came from.
bool accounted(const QString &name, const QString &value, const Contact &contact) {
    const MappedEntry e = mapContact(contact);
    QString seen;
    for (const QByteArray &f : e.fields)
        seen += text::fromCp1252(f) + u' ';
    // A record phone without a line naming its types has its place's usual type.
    for (int slot = 0; slot < 2; ++slot)
        if (!e.fields[int(Field::PHONE1) + slot].isEmpty() &&
            !e.extraLines.join(u'\n').contains(QStringLiteral("Phone %1 type: ").arg(slot + 1)))
            seen += DefaultPhoneType(slot) + u' ';
    const QString report = e.losses.join(u' ');
    if (report.contains(name, Qt::CaseInsensitive))
        return true;
    const QString haystack = letters(seen + e.extraLines.join(u' ') + report);
    for (const QString &word : value.split(QRegularExpression("[^\\w]+"), Qt::SkipEmptyParts))
        if (!haystack.contains(letters(word)))
            return false;
    return true;
}

// Every non-empty property of every card and every non-empty column of every row of the corpus
// ends in the record, in a labelled extra-text line or in the report.
TEST(CardsReaders, EveryPropertyAndColumnIsAccountedFor) {
    const QDir dir(QStringLiteral(MERIDOC_CARDS_FIXTURES));
    for (const QString &name : dir.entryList({"*.vcf", "*.csv"}, QDir::Files, QDir::Name)) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = readFile(dir.filePath(name));
        QList<Contact> contacts;
        const auto sink = [&](Contact &&c) { return contacts.append(std::move(c)), true; };
        // (name, value) of each input property or column, per contact.
        QList<QList<std::pair<QString, QString>>> inputs;
        if (looksLikeVCard(bytes)) {
            readVCards(bytes, sink);
            InputText text{QByteArrayView(bytes)};
            vcard::Lines lines(text);
            vcard::Property p;
            while (!lines.atEnd()) {
                if (!vcard::parseProperty(vcard::nextLogicalLine(lines), p))
                    continue;
                QByteArray raw =
                    p.quotedPrintable() ? *vcard::decodeQuotedPrintable(p.value) : p.value;
                const auto charset = p.param("CHARSET");
                QString value = vcard::unescape(
                    charset.isEmpty() ? QString::fromUtf8(raw)
                                      : *decoding::decodeCharset(raw, charset.first()));
                if (p.name == "TEL")
                    value.remove(QRegularExpression("^tel:"));
                if (p.name == "BEGIN")
                    inputs.emplaceBack();
                else if (p.name != "END" && p.name != "VERSION" && p.name != "PRODID" &&
                         p.name != "REV" && p.name != "UID" && p.name != "X-ABLABEL" &&
                         !value.trimmed().isEmpty())
                    inputs.last().append({QString::fromLatin1(p.name), value});
            }
        } else {
            CsvMap map;
            for (const QString &line :
                 QString::fromUtf8(
                     readFile(dir.filePath(QFileInfo(name).completeBaseName() + ".map")))
                     .split(u'\n', Qt::SkipEmptyParts))
                map.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
            readCsv(bytes, map, sink);
            // Rows split by hand: quotes, doubled quotes, line breaks inside quotes.
            QString text = decoding::decodeInput(bytes);
            if (text.startsWith("sep="))
                text = text.section(u'\n', 1);
            const QChar sep =
                text.section(u'\n', 0, 0).count(u';') > text.section(u'\n', 0, 0).count(u',')
                    ? u';'
                    : u',';
            QList<QStringList> rows{{}};
            QString field;
            bool quoted = false;
            for (qsizetype i = 0; i < text.size(); ++i) {
                const QChar c = text[i];
                if (c == u'"')
                    quoted = !quoted, field += (quoted && i > 0 && text[i - 1] == u'"') ? "\"" : "";
                else if (!quoted && (c == sep || c == u'\n'))
                    rows.last() += std::exchange(field, {}), c == u'\n' ? rows.emplaceBack(),
                        void() : void();
                else if (c != u'\r' || quoted)
                    field += c;
            }
            rows.last() += field;
            const QStringList header = rows.takeFirst();
            for (const QStringList &row : rows) {
                if (row.join("").trimmed().isEmpty())
                    continue;
                inputs.emplaceBack();
                for (int i = 0; i < row.size() && i < header.size(); ++i)
                    if (!row[i].trimmed().isEmpty() && !csv::noInformation(header[i], row[i]))
                        inputs.last().append({header[i], row[i]});
            }
        }
        ASSERT_EQ(contacts.size(), inputs.size());
        for (int i = 0; i < contacts.size(); ++i)
            for (const auto &[property, value] : inputs[i])
                EXPECT_TRUE(accounted(property, value, contacts[i]))
                    << "contact " << i + 1 << ": " << property.toStdString() << ": "
                    << value.toStdString();
    }
}

// Names in any script become readable Latin in the record; letters Windows-1252 holds stay.
TEST(CardsReaders, TransliterationOfWhatWindows1252Lacks) {
    const struct {
        const char *script, *written, *stored;
    } rows[] = {
        {"Polish", "Łukasz Wałęsa", "Lukasz Walesa"},
        {"Czech", "Dvořák Šťastný", "Dvorák Štastný"},
        {"Romanian", "Ștefan Țăranu", "Stefan Taranu"},
        {"Vietnamese", "Nguyễn Văn Thủy", "Nguyen Van Thuy"},
        {"Greek", "Γιώργος Παπαδόπουλος", "Giorgos Papadópoulos"},
        {"Cyrillic", "Дмитрий Иванов", "Dmitrij Ivanov"},
        {"Cyrillic with Š", "Шостакович", "Šostakovic"},
        {"Chinese", "王小明", "Wang Xiao Ming"},
        {"Japanese", "山田 やまだ", "Shan Tian Yamada"},
        {"Arabic", "محمد", "Mhmd"},
        {"Arabic with ayn", "محمد العلي", "Mhmd Al'ly"},
        {"emoji", "Ann 😀", "Ann "},
        {"Windows-1252 kept", "José Müller € Œ", "José Müller € Œ"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.script);
        bool changed = false;
        EXPECT_EQ(text::fromCp1252(toCp1252Latin(QString::fromUtf8(row.written), &changed)),
                  QString::fromUtf8(row.stored));
        EXPECT_EQ(changed, qstrcmp(row.written, row.stored) != 0);
    }
    // Ever new long names do not grow the remembered Latin forms past a few megabytes.
    for (char16_t i = 0; i < 400; ++i)
        toCp1252Latin(QString(3000, QChar(u'д')) + QChar(u'а' + i % 32) + QChar(u'а' + i / 32));
    EXPECT_LE(transliterationCacheBytes(), std::size_t(2) << 20);
}

// Each malformed input is refused at its line with its reason.
TEST(CardsReaders, MalformedInputs) {
    const QByteArray megabyte(1 << 20, 'x');
    const struct {
        bool vcard;
        QByteArray input;
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
        // Over the limits that keep memory bounded: refused, not cut.
        {true, "BEGIN:VCARD\nFN:" + megabyte + "\nEND:VCARD\n", "", 2, "line longer than 1 MiB"},
        {true, "BEGIN:VCARD\nNOTE:" + megabyte.left(800000) + "\n " + megabyte.left(300000), "", 2,
         "property longer than 1 MiB"},
        {true, "BEGIN:VCARD\nFN:" + megabyte.left(70000) + "\nEND:VCARD\n", "", 1,
         "a name longer than 65536 characters"},
        {true, "BEGIN:VCARD\n" + QByteArray("NOTE:" + megabyte.left(1000000) + "\n").repeated(9),
         "", 1, "card longer than 8 MiB"},
        {true, "BEGIN:VCARD\n" + QByteArray("NOTE:abc=\n").repeated(200000), "", 1,
         "card with more than 10000 properties"},
        {false, "First Name,Notes\nAnn,\"x" + megabyte + "\"\n", "", 2, "field longer than 1 MiB"},
        {false, megabyte.repeated(9), "", 1, "line longer than 8 MiB"},
        {false, "First Name,Notes\n" + QByteArray(300000, ','), "", 2, "more than 10000 columns"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.input.left(60).toStdString());
        const QByteArray bytes(row.input);
        const QString out = readAll(bytes, row.vcard, QString::fromUtf8(row.map));
        const QString last = out.trimmed().section(u'\n', -1);
        EXPECT_TRUE(last.startsWith(QStringLiteral("error %1: ").arg(row.line)))
            << last.left(200).toStdString();
        EXPECT_TRUE(last.contains(QLatin1String(row.reason))) << last.left(200).toStdString();
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
         {"Full name: Maximilian Alexander Theodor Lee", "Name: Maximilian Alexander Theodor"},
         1},
        {"outside Windows-1252",
         contactOf(QStringLiteral("Łucja"), "Nowak"),
         {"Lucja", "Nowak", "", "", ""},
         {QStringLiteral("Full name: Łucja Nowak"), QStringLiteral("Name: Łucja")},
         1},
        {"formatted name only",
         Contact{.formatted = "Mary Ann  Evans"},
         {"Mary Ann", "Evans", "", "", ""},
         {},
         0},
        {"organisation only",
         Contact{.details = {{"Organisation", "Blue Whale Inc."}}},
         {"", "Blue Whale Inc.", "", "", ""},
         {"Full name: Blue Whale Inc.", "Organisation: Blue Whale Inc."},
         1},
        {"a company by its kind",
         Contact{.formatted = "Pizzeria Napoli",
                 .details = {{"Organisation", "Pizzeria Napoli"}},
                 .organisation = true},
         {"", "Pizzeria Napoli", "", "", ""},
         {"Full name: Pizzeria Napoli", "Organisation: Pizzeria Napoli"},
         1},
        {"note cut, further lines verbatim, trailing blank lines dropped",
         contactOf("Ann", "Lee", longNote + "\n  second\n\nfourth\n\n"),
         {"Ann", "Lee", "", "", longNote.left(50)},
         {"Full name: Ann Lee", "Note: " + longNote, "  second", "", "fourth"},
         2},
        {"note outside Windows-1252",
         contactOf("Ann", "Lee", QStringLiteral("Tel Aviv שלום")),
         {"Ann", "Lee", "", "", "Tel Aviv Slwm"},
         {"Full name: Ann Lee", QStringLiteral("Note: Tel Aviv שלום")},
         1},
        {"phones ordered, third moved, fax last",
         Contact{
             .given = "Ann",
             .family = "Lee",
             .phones = {{"1", {"work", "fax"}}, {"2", {"work"}}, {"3", {"home"}}, {"4", {"cell"}}}},
         {"Ann", "Lee", "4", "3", ""},
         {"Full name: Ann Lee", "Phone (work): 2", "Phone (work, fax): 1"},
         2},
        {"types other than mobile first and home second kept, none for a phone without",
         Contact{.given = "Ann", .family = "Lee", .phones = {{"1", {"voice"}}, {"2", {"work"}}}},
         {"Ann", "Lee", "2", "1", ""},
         {"Full name: Ann Lee", "Phone 1 type: work"},
         0},
        {"phone too long",
         Contact{.given = "Ann",
                 .family = "Lee",
                 .phones = {{"+1 555 555 0101 ext. 1234", {"pref", "voice"}, true}}},
         {"Ann", "Lee", "+1 555 555 0101 ext.", "", ""},
         {"Full name: Ann Lee", "Phone: +1 555 555 0101 ext. 1234"},
         1},
        {"details ordered e-mail, address, others",
         Contact{.given = "Ann",
                 .family = "Lee",
                 .note = "Note",
                 .details = {{"Birthday", "1990-01-02"},
                             {"Address (home)", "1 Road\nTown"},
                             {"E-mail", "ann@example.com"}}},
         {"Ann", "Lee", "", "", "Note"},
         {"Full name: Ann Lee", "E-mail: ann@example.com", "Address (home): 1 Road, Town",
          "Birthday: 1990-01-02"},
         3},
        {"dates of every source in one form, what is no date kept as text and reported",
         Contact{.given = "Ann",
                 .family = "Lee",
                 .details = {{"Birthday", "3/15/1980"},
                             {"Anniversary", " --0315"},
                             {"Birthday", "15.03.1980"},
                             {"Birthday", "2/30/1980"}}},
         {"Ann", "Lee", "", "", ""},
         {"Full name: Ann Lee", "Birthday: 1980-03-15", "Anniversary: --03-15",
          "Birthday: 1980-03-15", "Birthday: 2/30/1980"},
         5},
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

// A file that shrinks or grows while it is read is refused by name (it is read, never mapped).
TEST(CardsReaders, AFileChangingWhileReadIsRefused) {
    for (const qint64 newSize : {qint64(1000), qint64(300000)}) {
        QTemporaryDir dir;
        QFile file(dir.filePath("a.vcf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("BEGIN:VCARD\nNOTE:x\nEND:VCARD\n").repeated(5000));
        file.close();
        InputText input(file.fileName());
        input.head(10);
        ASSERT_TRUE(file.resize(newSize));
        try {
            readVCards(input, [](Contact &&) { return true; });
            ADD_FAILURE() << "read to the end";
        } catch (const Failure &f) {
            EXPECT_EQ(f.file(), file.fileName());
            EXPECT_EQ(f.reason(), "the file changed while it was read");
        }
    }
}

// Contacts read on a thread of their own reach the sink in order, many batches' worth; the
// reading's error comes after the contacts before it; a sink that says stop, or a failure on
// either side, ends both threads, and the failure is thrown to the caller.
TEST(CardsReaders, ReadingAsideHandsOverInOrder) {
    const struct {
        const char *what;
        int contacts;        // read before the end (or the reading's failure)
        bool parseError;     // the reading ends with an error
        int stopAt;          // the sink returns false for this contact (-1: never)
        int sinkFailsAt;     // the sink throws for this contact (-1: never)
        bool readFails;      // the reading throws after its contacts
        int delivered;       // contacts the sink takes; -1: not checked
        const char *failure; // the reason thrown; "": none
    } cases[] = {
        {"all, then the error", 5000, true, -1, -1, false, 5000, ""},
        {"none", 0, false, -1, -1, false, 0, ""},
        {"the sink stops", 5000, false, 300, -1, false, 301, ""},
        {"the sink fails", 5000, false, -1, 10, false, 10, "sink"},
        {"the reading fails", 5000, false, -1, -1, true, -1, "read"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        int delivered = 0;
        bool inOrder = true;
        std::optional<ParseError> error;
        QString failure;
        try {
            error = ReadAside(
                [&](const ContactSink &sink) -> std::optional<ParseError> {
                    for (int i = 0; i < c.contacts; ++i) {
                        Contact contact;
                        contact.line = i;
                        contact.note = QString(100, 'n');
                        if (!sink(std::move(contact)))
                            return std::nullopt;
                    }
                    if (c.readFails)
                        throw Failure(QStringLiteral("read"));
                    return c.parseError ? std::optional(ParseError{7, "bad"}) : std::nullopt;
                },
                [&](Contact &&contact) {
                    if (contact.line == c.sinkFailsAt)
                        throw Failure(QStringLiteral("sink"));
                    inOrder = inOrder && contact.line == delivered++;
                    return contact.line != c.stopAt;
                });
        } catch (const Failure &f) {
            failure = f.reason();
        }
        EXPECT_EQ(failure, QString::fromLatin1(c.failure));
        EXPECT_TRUE(inOrder);
        if (c.delivered >= 0) {
            EXPECT_EQ(delivered, c.delivered);
        }
        EXPECT_EQ(error.has_value(), c.parseError);
    }
}
