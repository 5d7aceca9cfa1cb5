#include "cards/cli.h"
#include "data/configuration.h"
#include "data/rtf.h"
#include "data/text.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTextDocument>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::cardFileBytes;

namespace {

QByteArray vcard(const QByteArray &given, const QByteArray &family, const QByteArray &more = {}) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + family + ";" + given + ";;;\r\nFN:" + given + " " +
           family + "\r\n" + more + "END:VCARD\r\n";
}

// The entries of a card file's bytes, one a line, tab-separated.
std::string entriesOf(const QByteArray &card) {
    QString out;
    for (const testsupport::Fields &f : testsupport::recordsOf(card)) {
        for (const QByteArray &field : f)
            out += meridoc::text::fromCp1252(field) + '\t';
        out += '\n';
    }
    return out.toStdString();
}

QString plainText(const QByteArray &rtfBytes) {
    QTextDocument doc;
    rtf::read(rtfBytes, doc);
    return doc.toPlainText();
}

class CardsImport : public ::testing::Test {
protected:
    // Runs the tool on the program folder under a file-size limit (a full disk) when one is set;
    // keeps its output and returns its exit status.
    int run(const QStringList &args, rlim_t sizeLimit = RLIM_INFINITY, bool terminal = false) {
        char *outText = nullptr, *errText = nullptr;
        std::size_t outSize = 0, errSize = 0;
        std::FILE *outFile = open_memstream(&outText, &outSize);
        std::FILE *errFile = open_memstream(&errText, &errSize);
        struct rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limited = {std::min(sizeLimit, saved.rlim_max), saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limited);
        const int status =
            meridoc::cards::RunCommandLine(args, dir.path(), outFile, errFile, terminal);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        std::fclose(outFile);
        std::fclose(errFile);
        out = QString::fromUtf8(outText, qsizetype(outSize));
        err = QString::fromUtf8(errText, qsizetype(errSize));
        std::free(outText);
        std::free(errText);
        return status;
    }
    // Writes an input file outside the program folder; returns its path.
    QString input(const QString &name, const QByteArray &bytes) {
        QFile f(inputs.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : "";
    }
    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> files;
        for (const QString &name : dir.entries())
            files[name] = dir.read(name);
        return files;
    }

    testsupport::TempProgramDir dir;
    QTemporaryDir inputs;
    QString out, err;
};

const QByteArray Card = cardFileBytes({{"Anna", "Smith", "555", "", "old"}}, 'j');
const QByteArray Bob = vcard("Bob", "Jones", "EMAIL:bob@example.org\r\n");

} // namespace

// A malformed or unreadable input, or a target that cannot be written: the import fails and the
// program folder is exactly as it was, without temporary files.
TEST_F(CardsImport, FailuresChangeNothing) {
    const struct {
        const char *what;
        QByteArray second; // the second input file, after a good one; none: not written
        const char *failure;
        rlim_t sizeLimit = RLIM_INFINITY;
        const char *readOnly = "";
        const char *card = "home";
        const char *secondName = "b.vcf"; // "": the folder holding the inputs
    } cases[] = {
        {"no END:VCARD", Bob + "BEGIN:VCARD\nVERSION:3.0\nFN:X\n", "b.vcf:"},
        {"not a property", "BEGIN:VCARD\nVERSION:3.0\nno colon\nEND:VCARD\n", "b.vcf:3: "},
        {"read-only card file", Bob, "home.crd: File access denied", RLIM_INFINITY, "home.crd"},
        {"full disk", Bob + vcard("Cy", "Doe"), "home.crd: ", 4096},
        {"extra text on a full disk",
         vcard("Anna", "Smith", "NOTE:x\\n" + QByteArray("\xc3\xb6").repeated(5000) + "\r\n"),
         "AnnaSmith: ", 16000},
        {"seed card file", Bob, "The seed card file", RLIM_INFINITY, "", "TANRO"},
        {"read-only extra text", vcard("Anna", "Smith", "EMAIL:a@x\r\n"), "Cannot create file ",
         RLIM_INFINITY, "AnnaSmith"},
        {"missing input", {}, "b.vcf: "},
        {"directory as input", {}, "not a regular file", RLIM_INFINITY, "", "home", ""},
        {"property over 1 MiB", "BEGIN:VCARD\nNOTE:" + QByteArray(2 << 20, 'n'),
         "b.vcf:2: line longer than 1 MiB"},
        {"name over 64 KiB", vcard(QByteArray(70000, 'g'), "F"), "b.vcf:1: a name longer"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        dir.write("home.crd", Card + QByteArray(135 * 100, 'r'));
        dir.write("tanro.crd", Card);
        dir.write("AnnaSmith", "{\\rtf1 Kept\\par}");
        dir.write("BobJones", "{\\rtf1 Also kept\\par}");
        if (*c.readOnly)
            dir.makeReadOnly(c.readOnly);
        const auto before = snapshot();
        QFile::remove(inputs.filePath("b.vcf"));
        const QString second =
            c.second.isEmpty() ? inputs.filePath(c.secondName) : input(c.secondName, c.second);
        EXPECT_EQ(run({"--card-file", c.card, "import", input("a.vcf", Bob), second}, c.sizeLimit),
                  1);
        EXPECT_TRUE(err.contains(c.failure)) << err.toStdString();
        EXPECT_EQ(snapshot(), before);
        for (const QString &name : dir.entries())
            QFile::setPermissions(dir.file(name), QFile::ReadOwner | QFile::WriteOwner);
    }
}

// A dry run reports and writes nothing. Then: entries merged in order, duplicates skipped and
// counted, details appended to the extra text once, combined for one person, a new extra text
// made when there is none (from the text the viewer shows under an older spelling, if any), and
// none where a directory has the name.
TEST_F(CardsImport, MergesEntriesAndAppendsExtraTexts) {
    dir.write("home.crd", Card);
    dir.write("AnnaSmith", "{\\rtf1 Kept\\par}");
    dir.write("BobJones ", "Met in 1999\n"); // the viewer shows it: appended to, under his name
    QDir(dir.path()).mkdir("CyDoe");
    const QString file = input("a.vcf", vcard("Anna", "Smith", "TEL:555\r\nNOTE:old\r\n") +
                                            vcard("Anna", "Smith", "EMAIL:anna@example.org\r\n") +
                                            Bob + vcard("Bob", "Jones", "EMAIL:b@x\r\nTEL:1\r\n") +
                                            Bob + vcard("Cy", "Doe", "EMAIL:cy@example.org\r\n"));
    const auto before = snapshot();
    for (const char *card : {"home", "new"}) {
        ASSERT_EQ(run({"--card-file", card, "import", "--dry-run", file}), 0);
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(err.isEmpty());
    }
    EXPECT_TRUE(out.startsWith("Anna\tSmith\t555\t\told\nAnna\tSmith\t\t\t\n  "));
    EXPECT_TRUE(out.contains(file + ":27: Bob Jones: already in the card file; E-mail moved"));
    EXPECT_TRUE(out.contains("\nCy\tDoe\t\t\t\n  " + file + ":33: Cy Doe: E-mail moved"));
    EXPECT_TRUE(out.contains("\n    extra text: E-mail: anna@example.org\n"));
    EXPECT_TRUE(out.endsWith("would import 5 contacts into new.CRD, 1 already there, 3 with "
                             "details moved to extra text\n"));
    // What a killed run left staged goes with the next run; a file merely named alike stays.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    dir.write(QStringLiteral(".AnnaSmith.meridoc-staged-%1-a1B2c3").arg(gone), "half");
    dir.write(".AnnaSmith.a1B2c3", "not ours");
    for (const char *summary :
         {"imported 4 contacts into home.crd, 2 already there, 3 with details",
          "imported 0 contacts into home.crd, 6 already there, 0 with details"}) {
        SCOPED_TRACE(summary);
        ASSERT_EQ(run({"--card-file", "home", "import", file}), 0) << err.toStdString();
        EXPECT_EQ(entriesOf(dir.read("home.crd")),
                  "Cy\tDoe\t\t\t\t\nBob\tJones\t\t\t\t\n"
                  "Bob\tJones\t1\t\t\t\nAnna\tSmith\t555\t\told\t\n"
                  "Anna\tSmith\t\t\t\t\n");
        EXPECT_TRUE(err.startsWith(QString("meridoc-cards: ") + summary)) << err.toStdString();
        EXPECT_TRUE(err.contains("Cy Doe: E-mail moved to the extra text; no extra text"));
        // Each entry's lines carry its identity: the two Bob Jones keep their own e-mails.
        EXPECT_EQ(plainText(dir.read("AnnaSmith")),
                  "Kept\nFull name: Anna Smith\nEntry ID: 38b9630f-08a8-5ddc-9561-7ea1fed37aff\n"
                  "E-mail: anna@example.org");
        EXPECT_EQ(
            plainText(dir.read("BobJones")),
            "Met in 1999\nFull name: Bob Jones\nEntry ID: b51ca08b-556d-50bb-b531-265edb3d13ce\n"
            "E-mail: bob@example.org\nFull name: Bob Jones\n"
            "Entry ID: d5acd3de-37ea-5e02-b666-205d0226352a\nE-mail: b@x");
        EXPECT_EQ(dir.entries(), (QStringList{".AnnaSmith.a1B2c3", "AnnaSmith", "BobJones",
                                              "BobJones ", "home.crd"}));
    }
}

// Exported entries imported into an empty card file come back as they were (trimmed), and the
// extra texts the export carried in the notes stay exactly as they are.
TEST_F(CardsImport, RoundTripThroughExport) {
    dir.write("home.crd", cardFileBytes({{"", "Alone", "1", "", ""},
                                         {"Anna", "Berg", "(000)555-0101", "2", "a, b; c\\d"},
                                         {" Bo ", "\xd6ster", "+46 8 123 4567", "", " spaced "},
                                         {"Zo\xeb", "\xdcnal", "", "", ""}},
                                        'j'));
    dir.write("AnnaBerg", "{\\rtf1 Met at the ferry\\par Second line\\par}");
    dir.write("Zo\xc3\xab\xc3\x9cnal", "Plain text\nover two lines\n");
    const auto before = snapshot();
    for (const char *format : {"vcard3", "vcard4", "csv"}) {
        SCOPED_TRACE(format);
        const QString exported = inputs.filePath("export");
        ASSERT_EQ(run({"--card-file", "home", "export", "--format", format, "--output", exported}),
                  0);
        ASSERT_EQ(run({"--card-file", "copy", "import", exported}), 0);
        EXPECT_EQ(
            entriesOf(dir.read("copy.CRD")),
            "\tAlone\t1\t\t\t\nAnna\tBerg\t(000)555-0101\t2\ta, b; c\\d\t\n"
            "Bo\t\xc3\x96ster\t+46 8 123 4567\t\tspaced\t\nZo\xc3\xab\t\xc3\x9cnal\t\t\t\t\n");
        QFile::remove(dir.file("copy.CRD"));
        EXPECT_EQ(snapshot(), before);
    }
}

// Only on a terminal and with more than 2,000 contacts: a count while reading, then the merge.
TEST_F(CardsImport, ProgressWhileReadingAndMerging) {
    const struct {
        int contacts;
        bool terminal;
        const char *progress; // "": no progress line
    } rows[] = {
        {3000, true, "meridoc-cards: 3000 contacts read\r\nmeridoc-cards: 1000/3000 contacts\r"},
        {3000, false, ""},
        {2000, true, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.contacts);
        QByteArray cards;
        for (int i = 0; i < row.contacts; ++i)
            cards += vcard("N" + QByteArray::number(i), "S");
        ASSERT_EQ(run({"--card-file", "home", "import", input("a.vcf", cards)}, RLIM_INFINITY,
                      row.terminal),
                  0);
        EXPECT_TRUE(err.contains(row.progress)) << err.toStdString();
        EXPECT_EQ(err.contains('\r'), *row.progress != 0);
    }
}

// Two people whose names give one extra text: each one's lines start with its full name, the
// report names the collision, and a second import adds nothing.
TEST_F(CardsImport, PeopleSharingAnExtraTextStayApart) {
    const QString file = input("a.vcf", vcard("Дмитрий", "Иванов", "EMAIL:d1@example.org\r\n") +
                                            vcard("Dmitrij", "Ivanov", "EMAIL:d2@example.org\r\n"));
    const QString id = "26bb1033-a8f8-5e85-a3af-debd416a6ce4"; // of the one entry they make
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(run({"--card-file", "home", "import", file}), 0) << err.toStdString();
        EXPECT_EQ(entriesOf(dir.read("home.CRD")), "Dmitrij\tIvanov\t\t\t\t\n");
        EXPECT_EQ(plainText(dir.read("DmitrijIvanov")),
                  "Full name: Дмитрий Иванов\nEntry ID: " + id +
                      "\nName: Дмитрий\nSurname: Иванов\n"
                      "E-mail: d1@example.org\nFull name: Dmitrij Ivanov\nEntry ID: " +
                      id + "\nE-mail: d2@example.org");
    }
    EXPECT_TRUE(err.contains("shares the extra text DmitrijIvanov with Дмитрий Иванов"))
        << err.toStdString();
}

// A 200 MB line under a 256 MB address-space limit: refused by name and line, nothing written.
TEST_F(CardsImport, LongLineUnderAnAddressSpaceLimit) {
    dir.write("home.crd", Card);
    const auto before = snapshot();
    for (const auto &[name, where] : {std::pair{"line.csv", ":1: "}, {"line.vcf", ":2: "}}) {
        SCOPED_TRACE(name);
        QFile file(inputs.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(name).endsWith("vcf") ? "BEGIN:VCARD\nNOTE:" : "");
        const QByteArray block(1 << 20, 'x');
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(file.write(block), block.size());
        file.close();
        QProcess tool;
        tool.setChildProcessModifier([] {
            const struct rlimit limit = {256u << 20, 256u << 20};
            ::setrlimit(RLIMIT_AS, &limit);
        });
        tool.start(MERIDOC_CARDS,
                   {"--dir", dir.path(), "--card-file", "home", "import", file.fileName()});
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitCode(), 1);
        EXPECT_TRUE(tool.readAllStandardError().contains(QFile::encodeName(file.fileName()) +
                                                         where + "line longer than"));
        file.remove();
        EXPECT_EQ(snapshot(), before);
    }
}

// Two people whose entries share an extra text under the same heading: the report names them,
// and the export gives each entry its own e-mail.
TEST_F(CardsImport, PeopleOfOneNameExportedApart) {
    const struct {
        const char *file;
        QByteArray bytes;
        QStringList cards; // a line of each exported vCard: TEL, then its own EMAIL
    } rows[] = {
        {"annas.csv",
         "First Name,Last Name,E-mail 1 - Value,Phone 1 - Value,Organization Name,Labels\r\n"
         "Anna,Smith,anna.smith@example.com,555-1,,Friends\r\n"
         "Anna,Smith,asmith@corp.example.com,555-2,Corp Inc,\r\n",
         {"555-1\r\nEMAIL;TYPE=INTERNET:anna.smith@example.com\r\nCATEGORIES:Friends",
          "555-2\r\nEMAIL;TYPE=INTERNET:asmith@corp.example.com\r\nORG:Corp Inc"}},
        {"wang.vcf",
         vcard("小明", "王", "TEL:555-3\r\nEMAIL:w1@example.cn\r\n") +
             vcard("小明", "汪", "TEL:555-4\r\nEMAIL:w2@example.cn\r\n"),
         {"555-3\r\nEMAIL;TYPE=INTERNET:w1@example.cn",
          "555-4\r\nEMAIL;TYPE=INTERNET:w2@example.cn"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        ASSERT_EQ(run({"--card-file", row.file, "import", input(row.file, row.bytes)}), 0);
        EXPECT_TRUE(err.contains("shares the extra text")) << err.toStdString();
        ASSERT_EQ(run({"--card-file", row.file, "export", "--format", "vcard3"}), 0);
        const QStringList exported = out.split(QStringLiteral("END:VCARD"), Qt::SkipEmptyParts);
        ASSERT_EQ(exported.size(), 3) << out.toStdString(); // two cards and the end
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(exported[i].contains(row.cards[i])) << exported[i].toStdString();
    }
}

// A contact with the name of one entry but other details: added beside it, or with --update in
// its place, its labelled lines replacing those of the same labels in its extra text; importing
// the same file again changes nothing either way.
TEST_F(CardsImport, UpdateReplacesTheOneEntryOfTheName) {
    const QByteArray twoPeople = "Full name: Anna Smith\nE-mail: old@x\nMet in Rome\n"
                                 "Full name: Anna  Smith\nE-mail: other@x\n";
    const struct {
        const char *what;
        QByteArray card;
        bool update;
        const char *entries;
        const char *remark;
        QByteArray extraBefore = {}; // the extra text "AnnaSmith", plain text
        const char *extraHas = nullptr, *extraLacks = nullptr;
        QByteArray more = "TEL:777\r\nNOTE:new\r\n";
        const char *rtfHas = nullptr; // in the bytes of "AnnaSmith"
        QByteArray others = {};       // further cards of the file
    } rows[] = {
        {"e-mail replaced in its own lines", Card, true, "Anna\tSmith\t777\t\tnew\t\n",
         "replaces the entry", twoPeople, "E-mail: new@x", "old@x",
         "TEL:777\r\nNOTE:new\r\nEMAIL:new@x\r\n"},
        {"the other person's lines kept", Card, true, "Anna\tSmith\t777\t\tnew\t\n",
         "replaces the entry", twoPeople, "other@x", nullptr,
         "TEL:777\r\nNOTE:new\r\nEMAIL:new@x\r\n"},
        {"a text with a picture only appended to", Card, true, "Anna\tSmith\t777\t\tnew\t\n",
         "replaces the entry",
         "{\\rtf1\\ansi{\\pict\\pngblip 89504e47}\\par Full name: Anna Smith\\par E-mail: "
         "old@x\\par}",
         "old@x", nullptr, "TEL:777\r\nNOTE:new\r\nEMAIL:new@x\r\n"},
        {"without --update added", Card, false,
         "Anna\tSmith\t555\t\told\t\nAnna\tSmith\t777\t\tnew\t\n", "added beside it", twoPeople,
         "old@x", nullptr, "TEL:777\r\nNOTE:new\r\nEMAIL:new@x\r\n"},
        {"added beside", Card, false, "Anna\tSmith\t555\t\told\t\nAnna\tSmith\t777\t\tnew\t\n",
         "same name as an existing entry, added beside it; --update replaces it"},
        {"replaced", Card, true, "Anna\tSmith\t777\t\tnew\t\n",
         "replaces the entry of the same name"},
        // A line put into a formatted text is a plain paragraph in the text's own font.
        {"a formatted text keeps its font, the new line no format", Card, true,
         "Anna\tSmith\t777\t\tnew\t\n", "replaces the entry",
         "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\pard Full name: Anna "
         "Smith\\par {\\i E-mail: old@x}\\par}",
         "E-mail: new@x", "old@x", "TEL:777\r\nNOTE:new\r\nEMAIL:new@x\r\n",
         "\\pard\\plain E-mail: new@x\\par\n"},
        // Two people of each full name, in letters the record lacks: each keeps its lines.
        {"names in other letters imported again",
         Card,
         true,
         "Ol'ga\tPetrova\t\t\t\t\nOl'ga\tPetrova\t2\t\t\t\nAnna\tSmith\t777\t\tnew\t\n"
         "Xiao Ming\tWang\t\t\t\t\nXiao Ming\tWang\t1\t\t\t\n",
         "replaces the entry",
         {},
         nullptr,
         nullptr,
         "TEL:777\r\nNOTE:new\r\n",
         nullptr,
         vcard("\xd0\x9e\xd0\xbb\xd1\x8c\xd0\xb3\xd0\xb0",
               "\xd0\x9f\xd0\xb5\xd1\x82\xd1\x80\xd0\xbe\xd0\xb2\xd0\xb0", "EMAIL:o@x\r\n") +
             vcard("\xe5\xb0\x8f\xe6\x98\x8e", "\xe7\x8e\x8b", "EMAIL:w@x\r\n") +
             vcard("\xe5\xb0\x8f\xe6\x98\x8e", "\xe7\x8e\x8b", "TEL:1\r\nEMAIL:w1@x\r\n") +
             vcard("\xd0\x9e\xd0\xbb\xd1\x8c\xd0\xb3\xd0\xb0",
                   "\xd0\x9f\xd0\xb5\xd1\x82\xd1\x80\xd0\xbe\xd0\xb2\xd0\xb0", "TEL:2\r\n")},
        {"two of the name: added beside",
         cardFileBytes({{"Anna", "Smith", "555", "", "old"}, {"Anna", "Smith", "1", "", ""}}, 'j'),
         true, "Anna\tSmith\t555\t\told\t\nAnna\tSmith\t1\t\t\t\nAnna\tSmith\t777\t\tnew\t\n",
         "added beside it"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const QString file = input("a.vcf", vcard("Anna", "Smith", row.more) + row.others);
        dir.write("home.crd", row.card);
        QFile::remove(dir.file("AnnaSmith"));
        if (!row.extraBefore.isEmpty())
            dir.write("AnnaSmith", row.extraBefore);
        QStringList args = {"--card-file", "home", "import", file};
        if (row.update)
            args.insert(3, "--update");
        ASSERT_EQ(run(args), 0) << err.toStdString();
        EXPECT_EQ(entriesOf(dir.read("home.crd")), row.entries);
        EXPECT_TRUE(err.contains(row.remark)) << err.toStdString();
        const auto after = snapshot();
        if (row.extraHas) {
            EXPECT_TRUE(plainText(dir.read("AnnaSmith")).contains(row.extraHas))
                << plainText(dir.read("AnnaSmith")).toStdString();
        }
        if (row.extraLacks) {
            EXPECT_FALSE(plainText(dir.read("AnnaSmith")).contains(row.extraLacks));
        }
        if (row.rtfHas) {
            EXPECT_TRUE(dir.read("AnnaSmith").contains(row.rtfHas)) << dir.read("AnnaSmith").data();
            EXPECT_TRUE(dir.read("AnnaSmith").contains("Arial"));
        }
        ASSERT_EQ(run(args), 0) << err.toStdString();
        EXPECT_EQ(snapshot(), after);
    }
}

// An import killed at each step of its commit: the next run, an import or the windows starting,
// finishes it when the card file was replaced and undoes it whole when it was not; every note is
// then found and nothing staged stays.
TEST_F(CardsImport, KilledImportIsFinishedByTheNextRun) {
    QByteArray cards;
    for (int i = 0; i < 20; ++i)
        cards += vcard("P" + QByteArray::number(i), "Kill",
                       "NOTE:c\\nnote " + QByteArray::number(i) + "\r\n");
    const QString file = input("k.vcf", cards), other = input("o.vcf", Bob);
    const auto notesFound = [&] {
        for (int i = 0; i < 20; ++i)
            if (!dir.exists(QStringLiteral("P%1Kill").arg(i)) ||
                !plainText(dir.read(QStringLiteral("P%1Kill").arg(i)))
                     .contains(QStringLiteral("note %1").arg(i)))
                return false;
        return true;
    };
    const auto leftOver = [&] {
        return dir.entries().filter(QRegularExpression("meridoc-staged|meridoc\\.journal|temp"));
    };
    const struct {
        const char *step;
        bool taken; // the card file was replaced before the kill
    } rows[] = {{"staged", false}, {"sealed", false}, {"replaced", true}, {"put", true}};
    for (const auto &row : rows) {
        for (const bool windows : {false, true}) {
            SCOPED_TRACE(std::string(row.step) + (windows ? " then the windows" : " then import"));
            for (const QString &name : dir.entries())
                QFile::remove(dir.file(name));
            dir.write("home.crd", Card);
            QProcess tool;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("MERIDOC_CRASH_AT", row.step);
            tool.setProcessEnvironment(env);
            tool.start(MERIDOC_CARDS, {"--dir", dir.path(), "--card-file", "home", "import", file});
            ASSERT_TRUE(tool.waitForFinished(60000));
            ASSERT_EQ(tool.exitStatus(), QProcess::CrashExit);
            if (windows)
                meridoc::LoadConfiguration(dir.path());
            else
                ASSERT_EQ(run({"--card-file", "home", "import", other}), 0) << err.toStdString();
            EXPECT_EQ(notesFound(), row.taken);
            EXPECT_EQ(leftOver(), QStringList());
            ASSERT_EQ(run({"--card-file", "home", "import", file}), 0) << err.toStdString();
            EXPECT_TRUE(notesFound());
            EXPECT_EQ(leftOver(), QStringList());
        }
    }
}
