#include "appexec.h"

#include "appexec_texts.h"
#include "child_process.h"
#include "data/appstate.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace appexec;

namespace {

// One error-text table for the whole program, refilled by every assignment of a language.
std::array<QString, ErrorTextCount> SharedErrorTexts;
TLangType SharedLanguage = ltFrench;

// Nice values standing in for the priority classes.
int niceValueFor(TPriorClass priority) {
    switch (priority) {
    case pcHigh:
        return -10;
    case pcIdle:
        return 19;
    case pcRealtime:
        return -20;
    default:
        return 0;
    }
}

// The classic system error number for an errno value. Numbers without a fitting counterpart
// become 31 (a general failure), which has no table entry, so the system's own description is
// reported for them instead of an entry that would describe something else.
qint32 systemErrorFor(int err) {
    switch (err) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return 3;
    case EACCES:
    case EPERM:
        return 5;
    case ENOMEM:
    case EAGAIN:
        return 8;
    case ENOEXEC:
        return 11;
    default:
        return 31;
    }
}

QString programDir() {
    QString dir = meridoc::AppState.ProgramDir;
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir.endsWith('/') ? dir : dir + '/';
}

// The command line's words: it is split on blanks, runs of blanks counting as one.
QStringList wordsOf(const QString &commandLine) {
    QStringList words;
    for (const QString &w : commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        words.append(w.split(QLatin1Char('\t'), Qt::SkipEmptyParts));
    return words;
}

} // namespace

TAppExec::TAppExec(QObject *owner) : QObject(owner) {
    setLangType(ltFrench);
}

TAppExec::~TAppExec() = default;

void TAppExec::setExePath(const QString &value) {
    if (value == exePath_)
        return;
    exePath_ = value;
    const bool separatorAtEnd = exePath_.endsWith('\\') || exePath_.endsWith('/');
    const bool lone = exePath_.size() == 1;
    const bool driveRoot = exePath_.size() == 3 && exePath_[0].isLetter() && exePath_[1] == ':';
    if (separatorAtEnd && !lone && !driveRoot)
        exePath_.chop(1);
}

void TAppExec::setLangType(TLangType value) {
    langType_ = value;
    SharedLanguage = value;
    SharedErrorTexts = errorTexts(value);
}

void TAppExec::setWindowState(TWindowState value) {
    if (value == windowState_)
        return;
    showCommand_ = value == wsMinimized ? 2 : value == wsMaximized ? 3 : 1;
    windowState_ = value;
}

QStringList TAppExec::StoredProperties() const {
    QStringList out;
    if (!changeDir_)
        out << QStringLiteral("ChangeDir");
    if (!exeName_.isEmpty())
        out << QStringLiteral("ExeName");
    if (!exeParams_.isEmpty())
        out << QStringLiteral("ExeParams");
    if (!exePath_.isEmpty())
        out << QStringLiteral("ExePath");
    if (langType_ != ltFrench)
        out << QStringLiteral("LangType");
    if (priorityClass_ != pcNormal)
        out << QStringLiteral("PriorityClass");
    out << QStringLiteral("Wait") << QStringLiteral("WindowState");
    return out;
}

QString TAppExec::CommandLine() const {
    QString line = exeName_;
    for (const QString &param : exeParams_)
        line += QLatin1Char(' ') + param;
    return line;
}

int TAppExec::ErrorEntry(qint32 number) {
    static const int Entries[22] = {1, 0, 2,  3,  0,  4,  5, 0, 6,  0,  7,
                                    8, 9, 10, 11, 12, 13, 0, 0, 14, 15, 16};
    if (number >= 32)
        return 17;
    if (number < 0 || number > 21)
        return 0;
    return Entries[number];
}

QString TAppExec::ErrorText() const {
    const int entry = ErrorEntry(errNo_);
    return entry ? SharedErrorTexts[entry - 1] : QString();
}

void TAppExec::raiseStartError(int err) {
    errNo_ = systemErrorFor(err);
    QString text = ErrorText();
    if (text.isEmpty())
        text = QString::fromLocal8Bit(std::strerror(err));
    throw EAppExecWinExec(text);
}

void TAppExec::Execute() {
    // A command line that does not fit is refused before anything happens, never cut.
    const QString commandLine = CommandLine();
    if (QFile::encodeName(commandLine).size() > MaxCommandLine)
        throw EAppExecWinExec(commandLineTooLongText(SharedLanguage, MaxCommandLine));

    // The directory change holds for the whole program and is not undone.
    if (changeDir_ && !exePath_.isEmpty() && ::chdir(QFile::encodeName(exePath_).constData()) != 0)
        throw EAppExecChDir(
            meridoc::EInOutError::messageFor(meridoc::EInOutError::codeFromErrno(errno)));

    errNo_ = 0;
    const StartResult started =
        startProgram(wordsOf(commandLine), programDir(), niceValueFor(priorityClass_));
    if (started.pid < 0)
        raiseStartError(started.error);
    if (!wait_) {
        reapWhenEnded(started.pid);
        return;
    }
    waitForEnd(started.pid);
}

// Runs the application's events until the child ends: windows stay usable, timers keep firing,
// and no processor time is spent between events.
void TAppExec::waitForEnd(pid_t pid) {
    processHandle_ = pid;
    errNo_ = StillActive;
    ChildWatch watch(pid);
    QPointer<TAppExec> self(this);
    if (!watch.hasEnded() && !watch.hasFailed()) {
        QEventLoop loop;
        connect(&watch, &ChildWatch::finished, &loop, &QEventLoop::quit);
        // Quitting the application ends every running event loop; leaving this one at once lets
        // the program end while the started one stays open.
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &loop,
                &QEventLoop::quit);
        loop.exec();
    }
    if (!watch.hasEnded() && !watch.hasFailed()) {
        reapWhenEnded(pid); // abandoned because the application quits
        return;
    }
    if (!self)
        return; // the launcher went away while it waited
    if (watch.hasFailed())
        raiseStartError(watch.error());
    errNo_ = watch.exitCode();
}
