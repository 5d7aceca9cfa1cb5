#include "cards/cli.h"
#include "cards/commands.h"
#include "data/rtf.h"
#include "data/text.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTextDocument>

#include <csignal>
#include <sys/resource.h>

using namespace meridoc::cards;
using testsupport::cardFileBytes;
using testsupport::Fields;
using testsupport::recordsOf;

namespace {

QByteArray vcard(const QByteArray &given, const QByteArray &family, const QByteArray &more = {}) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + family + ";" + given + ";;;\r\nFN:" + given + " " +
           family + "\r\n" + more + "END:VCARD\r\n";
}

// The entries of a card file's bytes, one a line, tab-separated.
std::string entriesOf(const QByteArray &card) {
    QString out;
    for (const Fields &f : recordsOf(card)) {
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
    // Writes the inputs (name -> bytes) outside the program folder and imports them; returns
    // the failure ("FILE:LINE: reason" or the reason) or an empty string, and keeps the output.
    QString import(const QList<std::pair<QString, QByteArray>> &inputs, bool dryRun = false,
                   const QString &card = QStringLiteral("home")) {
        ImportRequest request;
        request.dryRun = dryRun;
        for (const auto &[name, bytes] : inputs) {
            QFile f(inputs_.filePath(name));
            if (!name.startsWith("missing") && f.open(QIODevice::WriteOnly))
                f.write(bytes);
            request.files.append(inputs_.filePath(name));
        }
        char *outText = nullptr, *errText = nullptr;
        std::size_t outSize = 0, errSize = 0;
        CommandContext ctx{dir.path(), card, QStringLiteral("crd")};
        ctx.out = open_memstream(&outText, &outSize);
        ctx.err = open_memstream(&errText, &errSize);
        // A file-size limit makes writing fail the way a full disk does.
        struct rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = sizeLimit ? sizeLimit : saved.rlim_cur;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        QString failure;
        try {
            RunImport(ctx, request);
        } catch (const Failure &f) {
            failure = f.line() ? QStringLiteral("%1:%2: %3")
                                     .arg(QFileInfo(f.file()).fileName())
                                     .arg(f.line())
                                     .arg(f.reason())
                               : f.reason();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        std::fclose(ctx.out);
        std::fclose(ctx.err);
        out = QString::fromUtf8(outText, qsizetype(outSize));
        err = QString::fromUtf8(errText, qsizetype(errSize));
        std::free(outText);
        std::free(errText);
        return failure;
    }

    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> files;
        for (const QString &name : dir.entries())
            files[name] = dir.read(name);
        return files;
    }

    testsupport::TempProgramDir dir;
    QTemporaryDir inputs_;
    QString out, err;
    rlim_t sizeLimit = 0;
};

const QByteArray Card = cardFileBytes({{"Anna", "Smith", "555", "", "old"}}, 'j');

} // namespace

// A malformed input, an input that cannot be read, or a target that cannot be written: the
// import fails and the program folder is exactly as it was, without temporary files.
TEST_F(CardsImport, FailuresChangeNothing) {
    const QByteArray good = vcard("Bob", "Jones", "EMAIL:bob@example.org\r\n");
    const struct {
        const char *what;
        QList<std::pair<QString, QByteArray>> inputs;
        QString failure; // its start
        const char *readOnly = nullptr;
        rlim_t sizeLimit = 0;
        const char *card = "home";
    } cases[] = {
        {"no END:VCARD",
         {{"a.vcf", good}, {"b.vcf", good + "BEGIN:VCARD\nVERSION:3.0\nFN:X\n"}},
         "b.vcf:"},
        {"not a property",
         {{"a.vcf", "BEGIN:VCARD\nVERSION:3.0\nno colon\nEND:VCARD\n"}},
         "a.vcf:3: "},
        {"missing input", {{"a.vcf", good}, {"missing.vcf", {}}}, "missing.vcf: "},
        {"directory", {{"a.vcf", good}, {".", {}}}, "not a regular file"},
        {"read-only card file", {{"a.vcf", good}}, "home.crd: File access denied", "home.crd"},
        {"full disk", {{"a.vcf", good + vcard("Cy", "Doe")}}, "home.crd: ", nullptr, 4096},
        {"extra text too large",
         {{"a.vcf", vcard("Anna", "Smith", "NOTE:x\\n" + QByteArray(30000, 'n') + "\r\n")}},
         "AnnaSmith: ",
         nullptr,
         20000},
        {"seed card file", {{"a.vcf", good}}, "The seed card file", nullptr, 0, "TANRO"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        dir.write("home.crd", Card + QByteArray(135 * 100, 'r'));
        dir.write("tanro.crd", Card);
        dir.write("AnnaSmith", "{\\rtf1 Kept\\par}");
        dir.write("BobJones", "{\\rtf1 Also kept\\par}");
        if (c.readOnly)
            dir.makeReadOnly(c.readOnly);
        const auto before = snapshot();
        sizeLimit = c.sizeLimit;
        const QString failure = import(c.inputs, false, c.card);
        EXPECT_FALSE(failure.isEmpty());
        EXPECT_TRUE(failure.contains(c.failure)) << failure.toStdString();
        EXPECT_EQ(snapshot(), before);
        for (const QString &name : dir.entries())
            QFile::setPermissions(dir.file(name), QFile::ReadOwner | QFile::WriteOwner);
    }
}

// Entries merged in order, duplicates skipped and counted, details appended to the extra text
// once, combined for one person, and a new extra text made when there is none.
TEST_F(CardsImport, MergesEntriesAndAppendsExtraTexts) {
    dir.write("home.crd", Card);
    dir.write("AnnaSmith", "{\\rtf1 Kept\\par}");
    const QByteArray file = vcard("Anna", "Smith", "TEL:555\r\nNOTE:old\r\n") +
                            vcard("Anna", "Smith", "EMAIL:anna@example.org\r\n") +
                            vcard("Bob", "Jones", "EMAIL:bob@example.org\r\n") +
                            vcard("Bob", "Jones", "EMAIL:bob@example.org\r\nTEL:1\r\n") +
                            vcard("Bob", "Jones", "EMAIL:bob@example.org\r\n");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(import({{"a.vcf", file}}), "");
        const QList<Fields> expected = {
            {"Bob", "Jones", "", "", ""},
            {"Bob", "Jones", "1", "", ""},
            {"Anna", "Smith", "555", "", "old"},
            {"Anna", "Smith", "", "", ""},
        };
        EXPECT_EQ(recordsOf(dir.read("home.crd")), expected);
        EXPECT_TRUE(err.startsWith(round ? "meridoc-cards: imported 0 contacts into home.crd, 5 "
                                           "already there"
                                         : "meridoc-cards: imported 3 contacts into home.crd, 2 "
                                           "already there"))
            << err.toStdString();
        const QString anna = plainText(dir.read("AnnaSmith"));
        EXPECT_TRUE(anna.startsWith("Kept\n")) << anna.toStdString();
        EXPECT_EQ(anna.count("anna@example.org"), 1);
        EXPECT_EQ(plainText(dir.read("BobJones")).count("bob@example.org"), 1);
        EXPECT_EQ(dir.entries(), (QStringList{"AnnaSmith", "BobJones", "home.crd"}));
    }
}

// A dry run reports what would be stored and moved, and writes nothing at all.
TEST_F(CardsImport, DryRunWritesNothing) {
    for (const bool cardExists : {false, true}) {
        if (cardExists)
            dir.write("home.crd", Card);
        const auto before = snapshot();
        ASSERT_EQ(import({{"a.vcf", vcard("Anna", "Smith", "TEL:555\r\nNOTE:old\r\n") +
                                        vcard("Cy", "Doe", "EMAIL:cy@example.org\r\n")}},
                         true),
                  "");
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(cardExists ? out.contains("a.vcf:1: Anna Smith: already in the card file\n")
                               : out.startsWith("Anna\tSmith\t555\t\told\n"))
            << out.toStdString();
        EXPECT_TRUE(out.contains("Cy\tDoe\t\t\t\n"));
        EXPECT_TRUE(out.contains("cy@example.org"));
        EXPECT_TRUE(err.isEmpty());
    }
}

// Exported entries imported into an empty card file come back as they were (trimmed), and the
// extra texts the export carried in the notes stay exactly as they are.
TEST_F(CardsImport, RoundTripThroughExport) {
    dir.write("meridoc.ini", "[filenames]\r\nextention=crd\r\ndefaultfile=home\r\n");
    dir.write("home.crd", cardFileBytes({{"", "Alone", "1", "", ""},
                                         {"Anna", "Berg", "(000)555-0101", "2", "a, b; c\\d"},
                                         {" Bo ", "\xd6ster", "+46 8 123 4567", "", " spaced "},
                                         {"Zo\xeb", "\xdcnal", "", "", ""}},
                                        'j'));
    dir.write("AnnaBerg", "{\\rtf1 Met at the ferry\\par Second line\\par}");
    dir.write("Zo\xc3\xab\xc3\x9cnal", "Plain text\nover two lines\n");
    const auto extraTexts = snapshot();
    const auto expected =
        entriesOf(cardFileBytes({{"", "Alone", "1", "", ""},
                                 {"Anna", "Berg", "(000)555-0101", "2", "a, b; c\\d"},
                                 {"Bo", "\xd6ster", "+46 8 123 4567", "", "spaced"},
                                 {"Zo\xeb", "\xdcnal", "", "", ""}}));
    for (const char *format : {"vcard3", "vcard4"}) {
        SCOPED_TRACE(format);
        const QString exported = inputs_.filePath("export");
        char *text = nullptr;
        std::size_t size = 0;
        std::FILE *sink = open_memstream(&text, &size);
        ASSERT_EQ(RunCommandLine({"export", "--format", format, "--output", exported}, dir.path(),
                                 sink, sink),
                  0);
        ASSERT_EQ(
            RunCommandLine({"--card-file", "copy", "import", exported}, dir.path(), sink, sink), 0);
        std::fclose(sink);
        std::free(text);
        EXPECT_EQ(entriesOf(dir.read("copy.CRD")), expected);
        QFile::remove(dir.file("copy.CRD"));
        EXPECT_EQ(snapshot(), extraTexts);
    }
}
