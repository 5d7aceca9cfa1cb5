#include "components/appexec.h"
#include "support/program_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaProperty>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::TempProgramDir;

namespace {

// Runs the event loop until `done` holds or `ms` have passed.
bool waitUntil(const std::function<bool()> &done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

bool processGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A launcher in a fresh program directory; the current directory is restored afterwards, since
// a start with ExePath changes it for the whole process.
class Launcher : public testing::Test {
protected:
    void TearDown() override { QDir::setCurrent(savedDir_); }

    // An executable shell script in the program directory.
    void script(const QString &name, const QByteArray &body) {
        dir.write(name, "#!/bin/sh\n" + body + "\n");
        QFile::setPermissions(dir.file(name), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadGroup |
                                                  QFile::ExeGroup);
    }

    // The text of the error Execute raises, or "" when it returns normally.
    template <typename E = EAppExecWinExec> QString failureOf(TAppExec &exec) {
        try {
            exec.Execute();
        } catch (const E &e) {
            return e.message();
        }
        return {};
    }

    TempProgramDir dir;
    TAppExec exec;

private:
    QString savedDir_ = QDir::currentPath();
};

} // namespace

TEST(AppExec, ConstructionGivesThePublishedDefaults) {
    TAppExec exec;
    EXPECT_TRUE(exec.ChangeDir());
    EXPECT_EQ(exec.ErrNo(), 32);
    EXPECT_TRUE(exec.ExeName().isEmpty());
    EXPECT_TRUE(exec.ExeParams().isEmpty());
    EXPECT_TRUE(exec.ExePath().isEmpty());
    EXPECT_EQ(exec.LangType(), ltFrench);
    EXPECT_EQ(exec.PriorityClass(), pcNormal);
    EXPECT_FALSE(exec.Wait());
    EXPECT_EQ(exec.WindowState(), wsNormal);
    EXPECT_EQ(exec.ShowCommand(), 1);
    EXPECT_EQ(exec.ProcessHandle(), 0);
    // 32 belongs to the last entry, in the French table construction fills.
    EXPECT_EQ(exec.ErrorText(), QStringLiteral("Pas d'erreur"));

    const QMetaObject *meta = exec.metaObject();
    QStringList names;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        names << meta->property(i).name();
    EXPECT_EQ(names, (QStringList{"ChangeDir", "ErrNo", "ExeName", "ExeParams", "ExePath",
                                  "LangType", "PriorityClass", "Wait", "WindowState"}));
    EXPECT_FALSE(meta->property(meta->indexOfProperty("ErrNo")).isWritable());
    EXPECT_EQ(exec.property("LangType").value<TLangType>(), ltFrench);
}

TEST(AppExec, AStoredLayoutRecordsOnlyValuesAwayFromTheirDefaults) {
    TAppExec exec;
    EXPECT_EQ(exec.StoredProperties(), (QStringList{"Wait", "WindowState"}));
    exec.setChangeDir(false);
    exec.setExeName("txtview.exe");
    exec.setExeParams({"Meridoc Help"});
    exec.setLangType(ltEnglish);
    exec.setPriorityClass(pcIdle);
    EXPECT_EQ(exec.StoredProperties(), (QStringList{"ChangeDir", "ExeName", "ExeParams", "LangType",
                                                    "PriorityClass", "Wait", "WindowState"}));
}

struct CommandLineCase {
    QString name;
    QStringList params;
    QString expected;
};

TEST(AppExec, CommandLineIsTheNameThenABlankAndEachLineUnchanged) {
    const CommandLineCase cases[] = {
        {"txtview.exe", {"Meridoc Help"}, "txtview.exe Meridoc Help"},
        {"prog", {}, "prog"},
        {"prog", {""}, "prog "},
        {"", {"a", "b"}, " a b"},
        {"", {}, ""},
        {"p", {" x ", "", "\"q\""}, "p  x   \"q\""},
    };
    for (const CommandLineCase &c : cases) {
        TAppExec exec;
        exec.setExeName(c.name);
        exec.setExeParams(c.params);
        EXPECT_EQ(exec.CommandLine(), c.expected) << c.name.toStdString();
    }
}

TEST(AppExec, ExePathLosesOneFinalSeparatorExceptForRoots) {
    const std::pair<QString, QString> cases[] = {
        {"D:\\DATA\\", "D:\\DATA"},
        {"D:\\", "D:\\"},
        {"\\", "\\"},
        {"D:\\DATA\\\\", "D:\\DATA\\"},
        {"", ""},
        {"/tmp/data/", "/tmp/data"},
        {"/", "/"},
        {"relative/", "relative"},
        {"C:", "C:"},
    };
    for (const auto &[given, stored] : cases) {
        TAppExec exec;
        exec.setExePath(given);
        EXPECT_EQ(exec.ExePath(), stored) << given.toStdString();
    }
}

TEST(AppExec, WindowStateSetsTheShowCommandOnlyWhenItChanges) {
    TAppExec exec;
    const std::pair<TWindowState, int> steps[] = {
        {wsNormal, 1}, {wsMinimized, 2}, {wsMinimized, 2}, {wsMaximized, 3}, {wsNormal, 1}};
    for (const auto &[state, show] : steps) {
        exec.setWindowState(state);
        EXPECT_EQ(exec.WindowState(), state);
        EXPECT_EQ(exec.ShowCommand(), show);
    }
}

TEST(AppExec, ErrorNumbersFollowTheProgramStartNumbering) {
    const std::map<int, int> entries = {{0, 1},   {2, 2},   {3, 3},   {5, 4},   {6, 5},   {8, 6},
                                        {10, 7},  {11, 8},  {12, 9},  {13, 10}, {14, 11}, {15, 12},
                                        {16, 13}, {19, 14}, {20, 15}, {21, 16}};
    for (int n = -2; n < 40; ++n) {
        const int expected = n >= 32 ? 17 : (entries.count(n) ? entries.at(n) : 0);
        EXPECT_EQ(TAppExec::ErrorEntry(n), expected) << n;
    }
    EXPECT_EQ(TAppExec::ErrorEntry(259), 17);
    EXPECT_EQ(TAppExec::ErrorEntry(-2147483647 - 1), 0);
}

TEST(AppExec, TheThreeLanguagesFillTheSharedTable) {
    TAppExec a;
    TAppExec b;
    a.setLangType(ltEnglish);
    EXPECT_EQ(b.ErrorText(), QStringLiteral("No error")); // b's own LangType is still French
    EXPECT_EQ(b.LangType(), ltFrench);
    b.setLangType(ltItalian);
    EXPECT_EQ(a.ErrorText(), QStringLiteral("Nessun errore"));
    // A new launcher refills the table in French for every launcher.
    TAppExec c;
    EXPECT_EQ(a.ErrorText(), QStringLiteral("Pas d'erreur"));
}

struct FailureCase {
    const char *what;
    QString exeName;
    TLangType language;
    int errNo;
    QString text;
};

TEST_F(Launcher, FailedStartsCarryTheTextOfTheirNumber) {
    dir.write("notexec", "#!/bin/sh\n");
    script("garbage", {});
    dir.write("garbage", QByteArray("\x7f\x45\x4c\x46\x01\x02junk", 10));
    const QString invalid = QStringLiteral(
        "Executable file was invalid. Either it was not a Windows application or there was an "
        "error in the .EXE image");
    const FailureCase cases[] = {
        {"missing", "no-such-program-4711", ltEnglish, 2, "File was not found"},
        {"missing", "no-such-program-4711", ltItalian, 2, "File non trovato"},
        {"missing", "no-such-program-4711", ltFrench, 2, QStringLiteral("Fichier non trouvé")},
        {"empty name", "", ltEnglish, 2, "File was not found"},
        {"not a directory", "/etc/passwd/x", ltEnglish, 3, "Path was not found"},
        {"no execute bit", "notexec", ltEnglish, 5,
         "Attempt was made to dynamically link to a task, or there was a sharing or "
         "network-protection error"},
        {"not a program", "garbage", ltEnglish, 11, invalid},
    };
    for (const FailureCase &c : cases) {
        exec.setExeName(c.exeName);
        exec.setLangType(c.language);
        EXPECT_EQ(failureOf(exec), c.text) << c.what;
        EXPECT_EQ(exec.ErrNo(), c.errNo) << c.what;
    }
}

struct RunCase {
    const char *what;
    QString exeName;
    QStringList params;
    TPriorClass priority;
    int errNo;
};

TEST_F(Launcher, AWaitLeavesTheExitCodeInErrNo) {
    script("Exit3.sh", "exit 3");
    script("exit200", "exit 200");
    script("killed", "kill -9 $$");
    script("count", "exit $#");
    script("niceness", "exit $(nice)");
    const RunCase cases[] = {
        {"true", "true", {}, pcNormal, 0},
        {"false", "false", {}, pcNormal, 1},
        {"found ignoring case", "EXIT3.SH", {}, pcNormal, 3},
        {"high exit code", "exit200", {}, pcNormal, 200},
        {"killed by a signal", "killed", {}, pcNormal, -SIGKILL},
        {"split on blanks", "count", {"a b", "", "c"}, pcNormal, 3},
        {"idle priority", "niceness", {}, pcIdle, 19},
    };
    exec.setWait(true);
    for (const RunCase &c : cases) {
        exec.setExeName(c.exeName);
        exec.setExeParams(c.params);
        exec.setPriorityClass(c.priority);
        exec.Execute();
        EXPECT_EQ(exec.ErrNo(), c.errNo) << c.what;
        EXPECT_GT(exec.ProcessHandle(), 0) << c.what;
        EXPECT_TRUE(processGone(exec.ProcessHandle())) << c.what << ": not reaped";
    }
}

TEST_F(Launcher, AStartWithoutWaitingReturnsAtOnceAndTheChildIsReapedLater) {
    script("report", "echo $$ > \"$0.pid\"; exit 5");
    exec.setExeName("report");
    exec.Execute();
    EXPECT_EQ(exec.ErrNo(), 0);
    EXPECT_EQ(exec.ProcessHandle(), 0); // only a wait sets it
    ASSERT_TRUE(waitUntil([&] { return !dir.read("report.pid").trimmed().isEmpty(); }));
    const pid_t pid = dir.read("report.pid").trimmed().toInt();
    EXPECT_TRUE(waitUntil([&] { return processGone(pid); })) << "the child stays a zombie";
}

TEST_F(Launcher, ACommandLineOverTheLimitIsRefusedNotCut) {
    script("mark", "touch \"$0.ran\"");
    exec.setExeName("mark");
    exec.setWait(true);
    exec.setExeParams({QString(TAppExec::MaxCommandLine - 5, 'x')}); // "mark " + 506 = 511
    exec.Execute();
    EXPECT_TRUE(dir.exists("mark.ran"));
    QFile::remove(dir.file("mark.ran"));

    exec.setExeParams({QString(TAppExec::MaxCommandLine - 4, 'x')});
    exec.setLangType(ltEnglish);
    EXPECT_EQ(failureOf(exec), "The command line is longer than 511 characters");
    EXPECT_EQ(exec.ErrNo(), 0); // unchanged from the run before
    EXPECT_FALSE(dir.exists("mark.ran"));
}

TEST_F(Launcher, ExePathBecomesTheCurrentDirectoryBeforeTheStart) {
    const QString sub = dir.path() + "sub";
    QDir().mkdir(sub);
    QFile::copy("/bin/true", sub + "/local-true");
    exec.setWait(true);
    exec.setExePath(sub + "/");
    exec.setExeName("./local-true"); // found only from the new current directory
    exec.Execute();
    EXPECT_EQ(exec.ErrNo(), 0);
    EXPECT_EQ(QDir::currentPath(), QDir(sub).canonicalPath());
}

TEST_F(Launcher, DirectoryChangeOnlyWithChangeDirAndAPath) {
    const QString before = QDir::currentPath();
    exec.setWait(true);
    exec.setExeName("true");
    exec.Execute(); // empty ExePath: no change
    EXPECT_EQ(QDir::currentPath(), before);
    exec.setChangeDir(false);
    exec.setExePath(dir.path());
    exec.Execute();
    EXPECT_EQ(QDir::currentPath(), before);
}

TEST_F(Launcher, AMissingExePathStartsNothing) {
    script("mark", "touch \"$0.ran\"");
    exec.setExeName(dir.file("mark"));
    exec.setExePath(dir.path() + "no-such-dir");
    EXPECT_EQ(failureOf<EAppExecChDir>(exec), "File not found");
    EXPECT_EQ(exec.ErrNo(), 32);
    EXPECT_FALSE(dir.exists("mark.ran"));
    exec.setExePath(dir.file("mark")); // a file, not a directory
    EXPECT_EQ(failureOf<EAppExecChDir>(exec), "Invalid filename");
}

TEST_F(Launcher, TimersKeepFiringWhileItWaits) {
    exec.setWait(true);
    exec.setExeName("sleep");
    exec.setExeParams({"30"});
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        EXPECT_EQ(exec.ErrNo(), TAppExec::StillActive);
        if (++ticks == 5)
            ::kill(exec.ProcessHandle(), SIGTERM);
    });
    timer.start();
    exec.Execute();
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(exec.ErrNo(), -SIGTERM);
}

TEST_F(Launcher, WaitingSpendsNoProcessorTime) {
    const auto cpuSeconds = [] {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    exec.setWait(true);
    exec.setExeName("sleep");
    exec.setExeParams({"0.6"});
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    exec.Execute();
    const double used = cpuSeconds() - before;
    EXPECT_GE(wall.elapsed(), 550);
    EXPECT_LT(used, 0.15) << "the wait kept a processor busy";
}

TEST_F(Launcher, AnEndThatCannotBeReadIsReported) {
    // Something else reaps the child first; the launcher cannot read its exit code any more.
    exec.setWait(true);
    exec.setExeName("sleep");
    exec.setExeParams({"0.2"});
    QTimer::singleShot(0, [&] { ::waitpid(exec.ProcessHandle(), nullptr, 0); });
    EXPECT_EQ(failureOf(exec), QString::fromLocal8Bit(strerror(ECHILD)));
    EXPECT_EQ(exec.ErrNo(), 31);
}

// Quitting the application ends the wait at once; the started program stays and is reaped when
// it ends. (Kept last: it runs the application's main loop.)
TEST_F(Launcher, QuittingTheApplicationEndsTheWait) {
    exec.setWait(true);
    exec.setExeName("sleep");
    exec.setExeParams({"30"});
    bool returned = false;
    QTimer::singleShot(0, [&] {
        exec.Execute();
        returned = true;
    });
    QTimer::singleShot(100, [] { QCoreApplication::quit(); });
    QElapsedTimer wall;
    wall.start();
    QCoreApplication::exec();
    EXPECT_LT(wall.elapsed(), 5000);
    EXPECT_TRUE(returned);
    const pid_t pid = exec.ProcessHandle();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(processGone(pid)) << "the started program should still run";
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return processGone(pid); })) << "the child stays a zombie";
}
