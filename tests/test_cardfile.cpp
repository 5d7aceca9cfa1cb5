#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/cardfiles.h"
#include "data/cardmerge.h"
#include "data/configuration.h"
#include "data/errors.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace meridoc;
using testsupport::cardFileBytes;
using testsupport::Fields;
using testsupport::recordBytes;
using testsupport::recordsOf;
using testsupport::TempProgramDir;

namespace {

const Fields NewEntry{"C", "Z", "", "", ""};

int ioErrorCode(const std::function<void()> &operation) {
    try {
        operation();
    } catch (const EInOutError &e) {
        return e.code();
    } catch (const Exception &) {
        return -1; // an error with a message of its own
    }
    return 0;
}

QList<Fields> readAll() {
    QList<Fields> out;
    CardFileReader reader(CardFilePath());
    EntryRecord r;
    while (reader.next(r))
        out.append(r.fields());
    return out;
}

void setDropped(const Fields &f) {
    DroppedEntry = EntryRecord::fromFields(f);
}
void setReplacement(const Fields &f) {
    ReplacementEntry = EntryRecord::fromFields(f);
}

// The order the card file has always had: a bubble sort that swaps only strictly greater keys,
// i.e. a stable sort by SortKey.
QByteArray referenceSorted(const QByteArray &bytes) {
    const qsizetype n = bytes.size() / EntryRecord::Size;
    std::vector<QByteArray> records;
    for (qsizetype i = 0; i < n; ++i)
        records.push_back(bytes.mid(i * EntryRecord::Size, EntryRecord::Size));
    const auto keyOf = [](const QByteArray &b) {
        EntryRecord r;
        std::memcpy(r.bytes.data(), b.constData(), EntryRecord::Size);
        return SortKey(r);
    };
    std::stable_sort(records.begin(), records.end(),
                     [&](const QByteArray &a, const QByteArray &b) { return keyOf(a) < keyOf(b); });
    QByteArray out;
    for (const QByteArray &r : records)
        out += r;
    return out + bytes.mid(n * EntryRecord::Size);
}

QByteArray randomCardFile(int n, int distinctSurnames, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        const QByteArray surname = "S" + QByteArray::number(rng.bounded(distinctSurnames));
        const QByteArray name = rng.bounded(2) ? "anna" : "ANNA";
        out += recordBytes({name, surname, QByteArray::number(i), "", ""},
                           static_cast<char>(rng.bounded(256)));
    }
    return out;
}

class CardFileTest : public ::testing::Test {
protected:
    void SetUp() override { dir.useCardFile("HOME"); }
    void writeCard(const QByteArray &bytes) { dir.write("home.crd", bytes); }
    QByteArray card() const { return dir.read("home.crd"); }

    TempProgramDir dir;
};

} // namespace

TEST_F(CardFileTest, SequentialReadDeliversWholeRecordsThenFailsOnAPartialTail) {
    writeCard(cardFileBytes({{"A", "X", "", "", ""}, {"B", "Y", "", "", ""}}) + "partial");
    CardFileReader reader(CardFilePath());
    EntryRecord r;
    ASSERT_TRUE(reader.next(r));
    ASSERT_TRUE(reader.next(r));
    EXPECT_EQ(r.NAME(), QByteArray("B"));
    EXPECT_EQ(ioErrorCode([&] { reader.next(r); }), ioerror::ReadBeyondEnd);
}

TEST_F(CardFileTest, ReadingALargeFileCrossesBufferBoundaries) {
    QByteArray bytes;
    for (int i = 0; i < 2000; ++i)
        bytes += recordBytes({QByteArray::number(i), "S", "", "", ""});
    writeCard(bytes);
    const QList<Fields> all = readAll();
    ASSERT_EQ(all.size(), 2000);
    EXPECT_EQ(all[1999][0], QByteArray("1999"));
}

TEST_F(CardFileTest, FailuresRaiseTheRuntimeErrorCodes) {
    const struct {
        const char *what;
        std::function<void()> operation;
    } operations[] = {
        {"read", [] { readAll(); }},
        {"append",
         [] {
             AppendEntry({"A", "B", "", "", ""});
         }},
        {"rewrite", [] { RewriteCardFile(false); }},
        {"sort", [] { SortCardFile(); }},
        {"replace", [] { ReplaceEntry(); }},
        {"add", [] { AddEntry(NewEntry); }},
    };
    const QByteArray home = QFile::encodeName(dir.file("home.crd"));
    for (const auto &op : operations) {
        SCOPED_TRACE(op.what);
        ::unlink(home.constData());
        EXPECT_EQ(ioErrorCode(op.operation), ioerror::FileNotFound);
        EXPECT_FALSE(dir.exists("temp.tmp"));

        // Only a regular file is a card file: nothing waits on a pipe or reads a device.
        ASSERT_EQ(::mkfifo(home.constData(), 0644), 0);
        EXPECT_EQ(ioErrorCode(op.operation), ioerror::AccessDenied);
        ::unlink(home.constData());
        ASSERT_EQ(::symlink("/dev/zero", home.constData()), 0);
        EXPECT_EQ(ioErrorCode(op.operation), ioerror::AccessDenied);
        ::unlink(home.constData());
        EXPECT_FALSE(dir.exists("temp.tmp"));

        const QByteArray bytes = cardFileBytes({{"B", "Y", "", "", ""}, {"A", "X", "", "", ""}});
        writeCard(bytes);
        dir.makeReadOnly("home.crd"); // refused even when running as root
        EXPECT_EQ(ioErrorCode(op.operation), ioerror::AccessDenied);
        EXPECT_EQ(card(), bytes);
        ::chmod(QFile::encodeName(dir.file("home.crd")).constData(), 0644);
    }
}

TEST_F(CardFileTest, CardFileNameIsMatchedWithoutRegardToCase) {
    dir.write("Home.CRD", cardFileBytes({{"A", "X", "", "", ""}}));
    dir.useCardFile("home", "crd");
    EXPECT_EQ(readAll().size(), 1);
    AppendEntry({"B", "Y", "", "", ""});
    EXPECT_EQ(dir.entries(), QStringList{"Home.CRD"});
    EXPECT_EQ(recordsOf(dir.read("Home.CRD")).size(), 2);
}

TEST_F(CardFileTest, AppendEntryStoresTextsAsTheyStandCutToTheirFields) {
    writeCard(cardFileBytes({{"A", "X", "", "", ""}}));
    AppendEntry({QByteArray(25, 'n'), " Smith", "1 ", "", QByteArray(60, 'c')});
    const QList<Fields> records = recordsOf(card());
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1], (Fields{QByteArray(20, 'n'), " Smith", "1 ", "", QByteArray(50, 'c')}));
    EXPECT_EQ(RecordBuffer.NAME(), QByteArray(20, 'n'));
}

TEST_F(CardFileTest, AppendEntryWritesOverAPartialTail) {
    writeCard(cardFileBytes({{"A", "X", "", "", ""}}) + "tail");
    AppendEntry({"B", "Y", "", "", ""});
    EXPECT_EQ(card().size(), 2 * EntryRecord::Size);
}

TEST_F(CardFileTest, RewriteDropsEveryRecordOfTheEntryAndKeepsTheRestByteForByte) {
    const QByteArray keep1 = recordBytes({"AB", "C", "1", "", ""}, '#');
    const QByteArray drop = recordBytes({"A", "BC", "1", "", ""}, '$');
    const QByteArray keep2 = recordBytes({"A", "BC", "1", "", " "}, '%');
    writeCard(keep1 + drop + keep2 + drop);
    setDropped({"A", "BC", "1", "", ""});
    RewriteCardFile(false);
    EXPECT_EQ(card(), keep1 + keep2);
    EXPECT_FALSE(dir.exists("temp.tmp"));
}

TEST_F(CardFileTest, RewriteWithReplacementAppendsIt) {
    writeCard({});
    setDropped({"X", "Y", "", "", ""});
    setReplacement({"A", "B", "1", "2", "3"});
    RewriteCardFile(true);
    EXPECT_EQ(recordsOf(card()), (QList<Fields>{{"A", "B", "1", "2", "3"}}));
    EXPECT_EQ(card().size(), EntryRecord::Size);
}

TEST_F(CardFileTest, AFailingRewriteLeavesTheCardFileWhole) {
    const QByteArray bytes = cardFileBytes({{"A", "X", "", "", ""}, {"B", "Y", "", "", ""}});
    setDropped({"A", "X", "", "", ""});

    // A partial record at the end stops the rewrite half-way.
    writeCard(bytes + "xx");
    EXPECT_EQ(ioErrorCode([] { RewriteCardFile(false); }), ioerror::ReadBeyondEnd);
    EXPECT_EQ(card(), bytes + "xx");
    EXPECT_FALSE(dir.exists("temp.tmp"));

    // The new content cannot be written in full (a file size limit stands in for a full disk).
    QByteArray big;
    for (int i = 0; i < 400; ++i)
        big += recordBytes({"N" + QByteArray::number(i), "S", "", "", ""});
    writeCard(big);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    for (const auto &op : {std::function<void()>([] { RewriteCardFile(true); }),
                           std::function<void()>([] { ReplaceEntry(); }),
                           std::function<void()>([] { AddEntry(NewEntry); }),
                           std::function<void()>([] { SortCardFile(); })}) {
        setReplacement({"0", "0", "", "", ""});
        EXPECT_NE(ioErrorCode(op), 0);
        EXPECT_EQ(card(), big);
        EXPECT_FALSE(dir.exists("temp.tmp"));
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    // "temp.tmp" cannot be created.
    ASSERT_TRUE(QDir(dir.path()).mkdir("temp.tmp"));
    EXPECT_EQ(ioErrorCode([] { RewriteCardFile(false); }), ioerror::AccessDenied);
    EXPECT_EQ(card(), big);
}

struct SortCase {
    const char *name;
    QByteArray bytes;
};

class SortTest : public CardFileTest, public ::testing::WithParamInterface<SortCase> {};

TEST_P(SortTest, GivesTheStableOrderBySortKey) {
    const QByteArray input = GetParam().bytes;
    writeCard(input);
    SortCardFile();
    EXPECT_EQ(card(), referenceSorted(input));
    EXPECT_FALSE(dir.exists("temp.tmp"));
    EXPECT_EQ(dir.entries(), QStringList{"home.crd"});
}

INSTANTIATE_TEST_SUITE_P(
    CardFile, SortTest,
    ::testing::Values(SortCase{"empty", {}}, SortCase{"one", recordBytes({"A", "B", "", "", ""})},
                      SortCase{"two_swapped", cardFileBytes({{"J", "SMITH", "", "", ""},
                                                             {"A", "SMITHE", "", "", ""}})},
                      SortCase{"case_only_differs", cardFileBytes({{"a", "smith", "1", "", ""},
                                                                   {"A", "SMITH", "2", "", ""},
                                                                   {"A", "ADAMS", "", "", ""}})},
                      SortCase{"partial_tail",
                               cardFileBytes({{"B", "Y", "", "", ""}, {"A", "X", "", "", ""}}) +
                                   "tail"},
                      SortCase{"appended_last", referenceSorted(randomCardFile(300, 50, 2)) +
                                                    recordBytes({"M", "S17", "", "", ""})},
                      SortCase{"few_runs", referenceSorted(randomCardFile(200, 30, 3)) +
                                               referenceSorted(randomCardFile(100, 30, 4))},
                      SortCase{"random", randomCardFile(1500, 40, 5)},
                      SortCase{"larger_than_one_chunk", randomCardFile(70000, 500, 6)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CardFileTest, ReplaceEntryEqualsRewriteThenSort) {
    const QByteArray sorted = referenceSorted(randomCardFile(500, 20, 7));
    const QByteArray unsorted = randomCardFile(500, 20, 8);
    for (const QByteArray &input : {sorted, unsorted}) {
        for (const Fields &replacement :
             {Fields{"A", "S0", "new", "", ""}, Fields{"ANNA", "S5", "new", "", ""},
              Fields{"z", "zzz", "", "", ""}}) {
            const Fields dropped = recordsOf(input)[17];
            setDropped(dropped);
            setReplacement(replacement);
            writeCard(input);
            RewriteCardFile(true);
            SortCardFile();
            const QByteArray expected = card();

            writeCard(input);
            setDropped(dropped);
            ReplaceEntry();
            EXPECT_EQ(card(), expected);
        }
    }
}

TEST_F(CardFileTest, ChangingOperationsHoldTheDirectoryLock) {
    writeCard(cardFileBytes({{"A", "X", "", "", ""}}));
    files::DirectoryLock held(dir.path());
    // Another process cannot take the lock while this one holds it.
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::_exit(locked ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Nested use inside the same process does not block.
    AppendEntry({"B", "Y", "", "", ""});
    EXPECT_EQ(recordsOf(card()).size(), 2);
}

TEST_F(CardFileTest, AWriterKilledAtAnyMomentLeavesACompleteCardFile) {
    QByteArray original;
    for (int i = 0; i < 3000; ++i)
        original += recordBytes(
            {"N" + QByteArray::number(i % 97), "S" + QByteArray::number(i % 13), "", "", ""});
    writeCard(original);
    const QByteArray sorted = referenceSorted(original);
    for (int attempt = 0; attempt < 12; ++attempt) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;) {
                SortCardFile();
                QSaveFile restore(dir.file("home.crd")); // put the unsorted file back atomically
                restore.open(QIODevice::WriteOnly);
                restore.write(original);
                restore.commit();
            }
        }
        ::usleep(2000 + attempt * 1500);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const QByteArray now = card();
        EXPECT_TRUE(now == original || now == sorted)
            << "attempt " << attempt << ": " << now.size();
        writeCard(original);
    }
}

TEST_F(CardFileTest, AddEntryEqualsAppendThenSort) {
    const QByteArray sorted = referenceSorted(randomCardFile(400, 20, 9));
    const QByteArray inputs[] = {{}, sorted, randomCardFile(400, 20, 10), sorted + "tail"};
    for (const QByteArray &input : inputs) {
        for (const Fields &entry :
             {Fields{"A", "S0", "new", "", ""}, Fields{"ANNA", "S5", "", "", ""},
              Fields{"z", "zzz", "", "", ""}, Fields{" x", "", "", "", ""}}) {
            writeCard(input);
            AppendEntry(entry);
            SortCardFile();
            const QByteArray expected = card();

            writeCard(input);
            AddEntry(entry);
            EXPECT_EQ(recordsOf(card()), recordsOf(expected));
            EXPECT_EQ(card().size(), expected.size());
            EXPECT_FALSE(dir.exists("temp.tmp"));
        }
    }
}

// Every change that writes through "temp.tmp" (or beside the file a link points to).
const struct {
    const char *what;
    void (*operation)();
} Changes[] = {
    {"rewrite", [] { RewriteCardFile(false); }},
    {"sort", [] { SortCardFile(); }},
    {"replace", [] { ReplaceEntry(); }},
    {"add", [] { AddEntry(NewEntry); }},
    {"merge",
     [] {
         const std::vector<EntryRecord> batch{EntryRecord::fromFields(NewEntry)};
         CardMerge merge(CardFilePath(), batch, true);
         merge.commit();
     }},
    {"copy", [] { CopyCardFile("home.crd", "copy.crd"); }},
    {"seed", [] { WriteSeedCardFile(); }},
    {"ini", [] { WriteDefaultFile("Home"); }},
};
const QByteArray Unsorted = cardFileBytes({{"B", "Y", "", "", ""}, {"A", "X", "", "", ""}});

TEST_F(CardFileTest, AStaleTempTmpIsReplacedUnlessItIsADirectory) {
    QTemporaryDir elsewhere;
    const QString outside = elsewhere.path() + "/outside";
    for (const QString &kind :
         QStringList{"ln -s '" + outside + "' temp.tmp", "touch temp.tmp; chmod 0 temp.tmp",
                     "mkfifo temp.tmp", "touch temp.tmp; chmod 444 temp.tmp", "mkdir temp.tmp"}) {
        for (const auto &change : Changes) {
            SCOPED_TRACE(kind.toStdString() + ": " + change.what);
            writeCard(Unsorted);
            setDropped({"B", "Y", "", "", ""});
            std::system(QFile::encodeName("cd '" + dir.path() + "' && " + kind).constData());
            const bool directory = kind.startsWith("mkdir");
            EXPECT_EQ(ioErrorCode(change.operation) != 0, directory);
            EXPECT_TRUE(!directory || card() == Unsorted);
            EXPECT_FALSE(QFileInfo::exists(outside));
            EXPECT_FALSE(QFileInfo(dir.file("home.crd")).isSymLink());
            EXPECT_EQ(directory, QFileInfo::exists(dir.file("temp.tmp")));
            QDir(dir.path()).rmdir("temp.tmp");
        }
    }
}

TEST_F(CardFileTest, ACardFileThatIsALinkStaysALinkAndItsTargetChanges) {
    QTemporaryDir elsewhere;
    const QString real = elsewhere.path() + "/real.crd";
    ASSERT_TRUE(QFile::link(real, dir.file("home.crd")));
    for (const auto &change : std::span(Changes).first(5)) {
        SCOPED_TRACE(change.what);
        writeCard(Unsorted);
        ::chmod(QFile::encodeName(real).constData(), 0640);
        setDropped({"A", "X", "", "", ""});
        change.operation();
        EXPECT_TRUE(QFileInfo(dir.file("home.crd")).isSymLink());
        EXPECT_NE(card(), Unsorted);
        struct stat st {};
        EXPECT_TRUE(::stat(QFile::encodeName(real).constData(), &st) == 0 &&
                    (st.st_mode & 07777) == 0640);
        EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"real.crd"});
    }
    // The seed card file is always a file of its own: a link there is replaced, not followed.
    const QByteArray before = card();
    ASSERT_TRUE(QFile::link(real, dir.file("TANRO.CRD")));
    WriteSeedCardFile();
    EXPECT_FALSE(QFileInfo(dir.file("TANRO.CRD")).isSymLink());
    EXPECT_EQ(card(), before);
}

TEST(IoErrors, ErrnoValuesTheMappingDoesNotListKeepTheirOwnMeaning) {
    for (const int err : {EIO, ENETDOWN, EFBIG}) // EIO is 5 and ENETDOWN 100 on Linux
        EXPECT_EQ(EInOutError(EInOutError::codeFromErrno(err)).message().section(": ", 1),
                  QString::fromLocal8Bit(std::strerror(err)));
}
