#include "cards/cli.h"
#include "cards/csv_writer.h"
#include "cards/entry_contact.h"
#include "cards/export.h"
#include "cards/export_entry.h"
#include "cards/listing.h"
#include "cards/vcard_writer.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <fstream>
#include <sys/stat.h>

using namespace meridoc;
using namespace meridoc::cards;
using testsupport::cardFileBytes;
using testsupport::Fields;
using testsupport::TempProgramDir;

namespace {

// The vCard of an entry and its extra text, as the export writes it.
QByteArray WriteVCard(const ExportEntry &entry, VCardVersion version) {
    FieldViews fields;
    std::copy(entry.fields.begin(), entry.fields.end(), fields.begin());
    const QByteArray uid =
        entry.uid.isEmpty() ? EntryUid(entry.fields).toLatin1() : entry.uid.toLatin1();
    QByteArray out;
    AppendVCard(out, ContactOfEntry(fields, entry.extraText), uid, version);
    return out;
}

ExportEntry entry(const Fields &fields, const QString &extra = {}) {
    return ExportEntry{fields, extra, {}};
}

TEST(CardsWriter, FoldsAt75OctetsNeverInsideACharacter) {
    const QByteArray a75(75, 'a');
    const QByteArray e = "\xc3\xa9"; // é, two octets
    struct Row {
        QByteArray line, folded;
    } rows[] = {
        {a75, a75 + "\r\n"},
        {a75 + "b", a75 + "\r\n b\r\n"},
        {QByteArray(74, 'a') + e, QByteArray(74, 'a') + "\r\n " + e + "\r\n"},
        {QByteArray(73, 'a') + e + QByteArray(74, 'c') + "d",
         QByteArray(73, 'a') + e + "\r\n " + QByteArray(74, 'c') + "\r\n d\r\n"},
        {QByteArray(74, 'a') + "\xe2\x82\xac", QByteArray(74, 'a') + "\r\n \xe2\x82\xac\r\n"},
        // Invalid UTF-8 without a character start: cut at a byte, never stuck.
        {"X;" + QByteArray(200, '\x80'), "X;" + QByteArray(73, '\x80') + "\r\n " +
                                             QByteArray(74, '\x80') + "\r\n " +
                                             QByteArray(53, '\x80') + "\r\n"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FoldLine(row.line), row.folded) << row.line.toStdString();
}

TEST(CardsWriter, VCardAndCsvLines) {
    struct Row {
        Fields fields;
        QString extra;
        VCardVersion version;
        QList<QByteArray> lines; // expected lines of the vCard, in order (after UID)
        QByteArray csv;
    } rows[] = {
        {{" Anna ", "Berg", "(000)555-0101", "", "a;b,c\\d"},
         "",
         VCardVersion::V3,
         {"N:Berg;Anna;;;", "FN:Anna Berg", "TEL;TYPE=CELL:(000)555-0101", "NOTE:a\\;b\\,c\\\\d"},
         "Anna,,Berg,,,,,,,,\"a;b,c\\d\",,,,,,,mobile,(000)555-0101" + QByteArray(26, ',') +
             "\r\n"},
        {{"", "Berg", "", "12", ""},
         "line 1\nline \"2\"",
         VCardVersion::V4,
         {"VERSION:4.0", "N:Berg;;;;", "FN:Berg", "TEL;TYPE=home:12", "NOTE:line 1\\nline \"2\"",
          "X-MERIDOC-COMMENTS:"},
         ",,Berg,,,,,,,,\"\nline 1\nline \"\"2\"\"\",,,,,,,home,12" + QByteArray(26, ',') + "\r\n"},
        {{"Caf\xe9", "", "", "", ""},
         "",
         VCardVersion::V3,
         {"VERSION:3.0", "N:;Café;;;", "FN:Café", "END:VCARD"},
         "Café" + QByteArray(44, ',') + "\r\n"},
        // Each part of an address, a year-less birthday and each group come back apart; what
        // is no date goes to the note, never to BDAY.
        {{"Ana", "Ruiz", "", "", ""},
         "Address (home): Calle Mayor 1, 2º; Madrid; ; 28013; España\nBirthday: --03-15\n"
         "Groups: Clients, VIP, A\\, B\nAnniversary: in May",
         VCardVersion::V4,
         {"ADR;TYPE=home:;;Calle Mayor 1\\, 2º;Madrid;;28013;España", "BDAY:--0315",
          "CATEGORIES:Clients,VIP,A\\, B", "NOTE:Anniversary: in May"},
         "Ana,,Ruiz,,,,,,--03-15,\"Clients ::: VIP ::: A, B\",\"\nAnniversary: in May\"" +
             QByteArray(14, ',') +
             ",home,\"Calle Mayor 1, 2º\n28013 Madrid\nEspaña\",\"Calle "
             "Mayor 1, 2º\",Madrid,,,28013,España," +
             QByteArray(11, ',') + "\r\n"},
        // An address of an earlier version, written whole, is the street.
        {{"Bo", "Lund", "", "", ""},
         "Address: Storgatan 1, 111 22 Stockholm\nAddress (work): Unit 5\\; Block B; Leeds\n"
         "Birthday: 3/15/1980",
         VCardVersion::V3,
         {"ADR:;;Storgatan 1\\, 111 22 Stockholm;;;;", "ADR;TYPE=WORK:;;Unit 5\\; Block B;Leeds;;;",
          "BDAY:1980-03-15"},
         "Bo,,Lund,,,,,,1980-03-15" + QByteArray(18, ',') +
             "\"Storgatan 1, 111 22 Stockholm\","
             "\"Storgatan 1, 111 22 Stockholm\"" +
             QByteArray(6, ',') + ",work,\"Unit 5; Block B\nLeeds\",\"Unit 5; Block B\",Leeds" +
             QByteArray(7, ',') + "\r\n"},
    };
    for (const Row &row : rows) {
        const QByteArray card = WriteVCard(entry(row.fields, row.extra), row.version);
        EXPECT_TRUE(card.startsWith("BEGIN:VCARD\r\n"));
        qsizetype at = 0;
        for (const QByteArray &line : row.lines) {
            const qsizetype found = card.indexOf("\r\n" + line + "\r\n", at);
            EXPECT_GT(found, at - 1) << line.toStdString() << " in\n" << card.toStdString();
            at = std::max(found, at);
        }
        EXPECT_EQ(card.count("TEL"),
                  (row.fields[2].isEmpty() ? 0 : 1) + (row.fields[3].isEmpty() ? 0 : 1));
        EXPECT_EQ(CsvRow(entry(row.fields, row.extra)), row.csv);
    }
}

TEST(CardsWriter, UidIsStableAndFollowsTheEntryIdentity) {
    const Fields base = {"Anna", "Berg", "1", "2", "x"};
    // SHA-1 name-based UUID over 04"Anna" 04"Berg" 01"1" 01"2" 01"x", computed independently.
    EXPECT_EQ(EntryUid(base), "0183ac86-2f4a-59cd-9bb9-60d688b76c51");
    // The length prefixes keep "ab"+"c" apart from "a"+"bc"; a trailing blank is a difference.
    const Fields others[] = {{"Ann", "aBerg", "1", "2", "x"},
                             {"Anna ", "Berg", "1", "2", "x"},
                             {"Anna", "Berg", "1", "2", ""},
                             {"Anna", "Berg", "2", "1", "x"}};
    for (const Fields &other : others)
        EXPECT_NE(EntryUid(other), EntryUid(base)) << other[0].toStdString();
    EXPECT_EQ(EntryUid(EntryRecord::fromFields(base).fields()), EntryUid(base));
    // The export hashes the record in place: a length byte above the field's maximum counts as
    // the maximum there too.
    EntryRecord damaged = EntryRecord::fromFields({"Anna", "Berg", "1", "2", "x"});
    damaged.bytes[EntryRecord::offset(Field::COMMENTS)] = 200;
    for (const EntryRecord &record : {EntryRecord::fromFields(base), damaged}) {
        const UidText uid = EntryUidText(record);
        EXPECT_EQ(QString::fromLatin1(uid.data(), uid.size()), EntryUid(record.fields()));
    }
}

TEST(CardsFind, PhoneDigits) {
    struct Row {
        const char *phone, *wanted;
        bool matches;
    } rows[] = {
        {"(000)555-0101", "+1 (000) 555-0101", true},
        {"+1 (000) 555-0101", "555-0101", true},
        {"555-0101", "0101", false},
        {"0101", "0101", true},
        {"(000)555-0101", "(000)555-0102", false},
        {"", "1", false},
        {"123456", "0123456", true},
        {"08-123 45 67", "+46 8 123 4567", true},
        {"0046 8 123 4567", "+46 8 123 4567", true},
        {"000", "0", false},
        // How people write one number: DE, FR, UK, US, IN, JP; national, international, "00".
        {"+49 170 5550123", "+49 (0)170 5550123", true},
        {"0170 5550123", "0049 (0) 170 555 01 23", true},
        {"+49 170 5550123", "+43 170 5550123", false},
        {"01 23 45 67 89", "+33 1 23 45 67 89", true},
        {"+44 (0)20 7946 0018", "020 7946 0018", true},
        {"(555) 555-0101", "+1 555-555-0101", true},
        {"1-555-555-0101", "555.555.0102", false},
        {"+91 98765 43210", "098765 43210", true},
        {"03-1234-5678", "+81 3 1234 5678", true},
        {"(0)170 5550123", "0170 5550124", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(PhoneMatches(DigitsOf(row.phone), DigitsOf(row.wanted)), row.matches)
            << row.phone << " / " << row.wanted;
}

struct CliRun {
    int status;
    QString out, err;
};

CliRun run(const QStringList &args, const QString &dir) {
    char *outBuf = nullptr, *errBuf = nullptr;
    size_t outLen = 0, errLen = 0;
    FILE *out = open_memstream(&outBuf, &outLen);
    FILE *err = open_memstream(&errBuf, &errLen);
    const int status = RunCommandLine(args, dir, out, err);
    std::fclose(out);
    std::fclose(err);
    CliRun r{status, QString::fromUtf8(outBuf, outLen), QString::fromUtf8(errBuf, errLen)};
    std::free(outBuf);
    std::free(errBuf);
    return r;
}

TEST(CardsCli, StatusOutputAndMessages) {
    TempProgramDir dir;
    dir.write("meridoc.ini", "[filenames]\r\nextention=crd\r\ndefaultfile=Friends\r\n");
    dir.write("friends.crd", cardFileBytes({{"Anna", "Berg", "(000)555-0101", "", "tab\there"},
                                            {"Bo", "\xd6ster", "", "+46 8 123 4567", ""}}));
    dir.write("other.crd", cardFileBytes({{"Carl", "Dahl", "", "", ""}}));
    dir.write("hostile.crd", cardFileBytes({{"Nu\x01l", "Pipe", "", "", ""}}));
    ::mkfifo((dir.path().toUtf8() + "Nu\x01lPipe").constData(), 0600);
    dir.write("AnnaBerg", "Met at the Ferry\n");
    // Bo's note under its name in Windows-1252 bytes, as the original platform wrote it.
    std::ofstream((dir.path().toUtf8() + "Bo\xd6ster").constData()) << "Sauna on Fridays\n";
    dir.write("old.vcf", "");
    dir.makeReadOnly("old.vcf");
    // Two contacts handed over as two versions of one.
    dir.write("a.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a\r\nFN:A\r\nEND:VCARD\r\n");
    dir.write("b.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:b\r\nFN:B\r\nEND:VCARD\r\n");
    const QString usage = "Try 'meridoc-cards --help'";
    struct Row {
        QStringList args;
        int status;
        QString out; // exact standard output
        QString err; // what standard error starts with
    } rows[] = {
        {{"list"}, 0, "Anna\tBerg\t(000)555-0101\t\ttab here\nBo\tÖster\t\t+46 8 123 4567\t\n", ""},
        {{"--card-file", "OTHER", "list", "--json"},
         0,
         "[\n  {\"name\": \"Carl\", \"surname\": \"Dahl\", \"phone1\": \"\", \"phone2\": \"\", "
         "\"comments\": \"\"}\n]\n",
         ""},
        {{"--card-file=other", "export", "--output", "-", "--format=csv"},
         0,
         QString::fromUtf8(CsvHeader() + "Carl,,Dahl" + QByteArray(42, ',') + "\r\n"),
         ""},
        {{"find", "ferry"}, 0, "Anna\tBerg\t(000)555-0101\t\ttab here\n", ""},
        {{"find", "öS"}, 0, "Bo\tÖster\t\t+46 8 123 4567\t\n", ""},
        {{"find", "sauna"}, 0, "Bo\tÖster\t\t+46 8 123 4567\t\n", ""},
        {{"find", "--phone", "08-123 45 67"}, 0, "Bo\tÖster\t\t+46 8 123 4567\t\n", ""},
        {{"find", "--phone=5550101", "nobody"}, 1, "", ""},
        {{"find", "nobody", "--json"}, 1, "", ""},
        {{"--card-file", "hostile", "list"}, 0, "Nu l\tPipe\t\t\t\n", ""},
        {{"--card-file", "hostile", "find", "x"},
         1,
         "",
         "meridoc-cards: " + dir.path() + "Nu\x01lPipe: Cannot open file " + dir.path() +
             "Nu\x01lPipe\n"},
        {{"--card-file", "missing", "list"},
         1,
         "",
         "meridoc-cards: " + dir.path() + "missing.CRD: File not found\n"},
        {{"import", "/nonexistent.vcf"}, 1, "", "meridoc-cards: "},
        {{"resolve-conflict", dir.file("a.vcf"), dir.file("b.vcf")},
         1,
         "",
         "meridoc-cards: " + dir.file("a.vcf") + ": its UID \"a\" is not that of"},
        {{"export", "--output", dir.path() + "no/such/dir/x.vcf"},
         1,
         "",
         "meridoc-cards: " + dir.path() + "no/such/dir/x.vcf: "},
        {{"export", "--output", dir.path() + "./friends.crd"},
         1,
         "",
         "meridoc-cards: " + dir.path() + "./friends.crd: the output would replace"},
        {{"export", "--output", dir.file("old.vcf")},
         1,
         "",
         "meridoc-cards: " + dir.file("old.vcf") + ": File access denied\n"},
        {{}, 2, "", "meridoc-cards: missing command\n"},
        {{"lists"}, 2, "", "meridoc-cards: unknown command 'lists'\n"},
        {{"list", "--bogus"}, 2, "", "meridoc-cards: unrecognized option '--bogus'\n"},
        {{"list", "extra"}, 2, "", "meridoc-cards: unexpected argument 'extra'\n"},
        {{"list", "--phone", "1"},
         2,
         "",
         "meridoc-cards: option '--phone' does not apply to list\n"},
        {{"find"}, 2, "", "meridoc-cards: find needs a TEXT or --phone NUMBER\n"},
        {{"find", "--phone", "abc"}, 2, "", "meridoc-cards: 'abc' holds no digits\n"},
        {{"export", "--format"}, 2, "", "meridoc-cards: option '--format' requires an argument\n"},
        {{"export", "--format", "vcard2"}, 2, "", "meridoc-cards: unknown format 'vcard2'"},
        {{"export", "--output", "a", "--folder", "b"},
         2,
         "",
         "meridoc-cards: --output and --folder"},
        {{"export", "--folder", "b", "--format", "csv"},
         2,
         "",
         "meridoc-cards: a sync folder holds"},
        {{"import"}, 2, "", "meridoc-cards: import needs at least one FILE\n"},
        {{"import", "--map", "MOBILE=Cell", "a.csv"}, 2, "", "meridoc-cards: 'MOBILE=Cell' is not"},
        {{"--card-file", "a/b", "list"}, 2, "", "meridoc-cards: 'a/b' is not a card-file name\n"},
        {{"--json=1", "list"}, 2, "", "meridoc-cards: option '--json' doesn't allow an argument\n"},
    };
    for (const Row &row : rows) {
        const CliRun r = run(row.args, dir.path());
        const std::string what = row.args.join(' ').toStdString();
        EXPECT_EQ(r.status, row.status) << what << "\n" << r.err.toStdString();
        EXPECT_EQ(r.out, row.out) << what;
        EXPECT_TRUE(r.err.startsWith(row.err)) << what << "\n" << r.err.toStdString();
        EXPECT_EQ(r.status == 2, r.err.contains(usage)) << what;
    }
    // Nothing was written into the program folder.
    EXPECT_EQ(dir.entries(),
              QStringList({"AnnaBerg", "Nu\x01lPipe", "a.vcf", "b.vcf", "friends.crd",
                           "hostile.crd", "meridoc.ini", "old.vcf", "other.crd"}));
}

struct FileState {
    ino_t inode;
    QByteArray bytes;
    bool operator==(const FileState &) const = default;
};

QMap<QString, FileState> folderState(const QString &folder) {
    QMap<QString, FileState> state;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        struct stat st {};
        ::stat(QFile::encodeName(folder + '/' + name).constData(), &st);
        QFile f(folder + '/' + name);
        f.open(QIODevice::ReadOnly);
        state.insert(name, {st.st_ino, f.readAll()});
    }
    return state;
}

TEST(CardsCli, SyncFolderChangesOnlyWhatChanged) {
    TempProgramDir dir;
    const Fields anna = {"Anna", "Berg", "1", "", ""}, bo = {"Bo", "Dahl", "2", "", ""},
                 carl = {"Carl", "Eng", "3", "", ""}, dan = {"Dan", "Fors", "4", "", ""};
    const QString folder = dir.path() + "sync";
    QDir().mkpath(folder);
    // An older export's files, listed as its own: Anna's taken over, Dan's removed since his
    // entry is gone.
    const QString annaFile = EntryUid(anna) + ".vcf", danFile = EntryUid(dan) + ".vcf";
    for (const Fields &old : {anna, dan}) {
        dir.write("old", WriteVCard(entry(old), VCardVersion::V3));
        QFile::rename(dir.file("old"), folder + '/' + EntryUid(old) + ".vcf");
    }
    dir.write("own",
              ("# vCards written by meridoc-cards\n" + annaFile + "\n" + danFile + "\n").toUtf8());
    QFile::rename(dir.file("own"), folder + '/' + SyncManifestName);
    dir.write("tanro.crd", cardFileBytes({anna, bo, bo, carl}));
    const QByteArray annaBefore = folderState(folder).value(annaFile).bytes;
    const QStringList exportArgs = {"export", "--folder", folder};
    ASSERT_EQ(run(exportArgs, dir.path()).status, 0);
    auto first = folderState(folder); // three entries (Bo twice is one); the old list is gone
    ASSERT_EQ(first.size(), 3);
    EXPECT_EQ(first.value(annaFile).bytes, annaBefore);

    ASSERT_EQ(run(exportArgs, dir.path()).status, 0);
    EXPECT_EQ(folderState(folder), first);

    // Bo's phone changes in the card file and a phone adds an e-mail to Anna's vCard: Bo's vCard
    // keeps its name and UID, and the e-mail stays.
    QString boFile;
    for (auto it = first.cbegin(); it != first.cend(); ++it)
        if (it->bytes.contains("N:Dahl;Bo"))
            boFile = it.key();
    const Fields bo2 = {"Bo", "Dahl", "22", "", ""};
    dir.write("tanro.crd", cardFileBytes({anna, bo2, carl}));
    QByteArray annaCard = first.value(annaFile).bytes;
    annaCard.replace("END:VCARD", "EMAIL:anna@example.org\r\nEND:VCARD");
    dir.write("anna.vcf", annaCard);
    QFile::remove(folder + '/' + annaFile);
    QFile::rename(dir.file("anna.vcf"), folder + '/' + annaFile);
    dir.write("foreign.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
    QFile::rename(dir.file("foreign.vcf"), folder + "/foreign.vcf");
    dir.write("Carl"
              "Eng",
              "call after six");
    ASSERT_EQ(run(exportArgs, dir.path()).status, 0);
    const auto second = folderState(folder);
    EXPECT_EQ(second.value(annaFile).bytes, annaCard);
    EXPECT_TRUE(second.value(boFile).bytes.contains("TEL;TYPE=CELL:22\r\n"));
    EXPECT_TRUE(second.value(boFile).bytes.contains(boFile.chopped(4).toUtf8()));
    EXPECT_TRUE(second.contains("foreign.vcf"));
    EXPECT_EQ(second.size(), 4);
    bool carlNoted = false;
    for (const FileState &f : second)
        carlNoted = carlNoted || f.bytes.contains("NOTE:call after six\r\nX-MERIDOC-COMMENTS:\r\n");
    EXPECT_TRUE(carlNoted);

    // Only regular files are read and written, never through a link nor waiting on a pipe: what
    // is not one is named and left alone, or, for the program's own list and state, refused,
    // while Anna's entry changes (her vCard would be written).
    dir.write("tanro.crd", cardFileBytes({{"Anna", "Berg", "9", "", ""}, bo2, carl}));
    dir.write("outside.vcf", annaCard);
    enum Kind { Pipe, Link, LinkedFolder };
    const QString state = folder + "/.meridoc-sync", outside = dir.path() + "state";
    struct Row {
        QString name;
        Kind kind;
        int status;
        QString out, err; // what standard output holds, what standard error starts with
    } rows[] = {
        {SyncManifestName, Pipe, 1, "",
         "meridoc-cards: " + folder + '/' + SyncManifestName + ": not a regular file\n"},
        {annaFile, Pipe, 0, "left alone: " + annaFile + ": not a regular file\n", ""},
        {"x.vcf", Pipe, 0, "left alone: x.vcf: not a regular file\n", ""},
        {annaFile, Link, 0, "left alone: " + annaFile + ": a symbolic link, not followed\n", ""},
        {".meridoc-sync", LinkedFolder, 1, "", "meridoc-cards: " + state + ": a symbolic link: "},
    };
    for (const Row &row : rows) {
        const QString path = folder + '/' + row.name;
        if (row.kind == LinkedFolder)
            QDir().rename(state, outside);
        QFile::remove(path);
        if (row.kind == Pipe)
            ::mkfifo(QFile::encodeName(path).constData(), 0600);
        else
            QFile::link(row.kind == Link ? dir.file("outside.vcf") : outside, path);
        const auto kept = folderState(outside);
        const CliRun r = run(exportArgs, dir.path());
        const std::string what = row.name.toStdString() + "\n" + (r.out + r.err).toStdString();
        EXPECT_EQ(r.status, row.status) << what;
        EXPECT_TRUE(r.out.contains(row.out) && r.err.startsWith(row.err)) << what;
        EXPECT_EQ(dir.read("outside.vcf"), annaCard) << what;
        EXPECT_EQ(folderState(outside), kept) << what;
        QFile::remove(path);
        if (row.kind == LinkedFolder)
            QDir().rename(outside, state);
    }
}

} // namespace
