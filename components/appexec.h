#pragma once

#include "data/errors.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Types of the program launcher's settings, each held in one byte.
namespace appexec {
Q_NAMESPACE

enum TPriorClass : quint8 { pcHigh, pcIdle, pcNormal, pcRealtime };
Q_ENUM_NS(TPriorClass)

enum TLangType : quint8 { ltFrench, ltEnglish, ltItalian };
Q_ENUM_NS(TLangType)

enum TWindowState : quint8 { wsNormal, wsMinimized, wsMaximized };
Q_ENUM_NS(TWindowState)

} // namespace appexec

using appexec::ltEnglish;
using appexec::ltFrench;
using appexec::ltItalian;
using appexec::pcHigh;
using appexec::pcIdle;
using appexec::pcNormal;
using appexec::pcRealtime;
using appexec::TLangType;
using appexec::TPriorClass;
using appexec::TWindowState;
using appexec::wsMaximized;
using appexec::wsMinimized;
using appexec::wsNormal;

// Errors of the program launcher. Each carries a message text and nothing else.
class EAppExec : public meridoc::Exception {
public:
    using meridoc::Exception::Exception;
};
// The directory change before the start failed; the text is the runtime's input/output error.
class EAppExecChDir : public EAppExec {
public:
    using EAppExec::EAppExec;
};
// The program could not be started, or its exit code could not be read.
class EAppExecWinExec : public EAppExec {
public:
    using EAppExec::EAppExec;
};

// A non-visual component that starts another program: the command line is the program name
// followed by the parameter lines, the program may be started in a given directory, and the
// launcher can wait for the program's end while the application's windows stay responsive.
// Failures are reported with error numbers in the classic program-start numbering (0 to 21 for
// failures, 32 and above for success) and texts in French, English or Italian.
//
// The properties are published in this order. A stored layout records a value only when it
// differs from the stored default; StoredProperties() names those that would be recorded.
class TAppExec : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool ChangeDir READ ChangeDir WRITE setChangeDir)
    Q_PROPERTY(qint32 ErrNo READ ErrNo STORED false)
    Q_PROPERTY(QString ExeName READ ExeName WRITE setExeName)
    Q_PROPERTY(QStringList ExeParams READ ExeParams WRITE setExeParams)
    Q_PROPERTY(QString ExePath READ ExePath WRITE setExePath)
    Q_PROPERTY(appexec::TLangType LangType READ LangType WRITE setLangType)
    Q_PROPERTY(appexec::TPriorClass PriorityClass READ PriorityClass WRITE setPriorityClass)
    Q_PROPERTY(bool Wait READ Wait WRITE setWait)
    Q_PROPERTY(appexec::TWindowState WindowState READ WindowState WRITE setWindowState)

public:
    // The exit code a running program reports, as the classic poll reads it.
    static constexpr qint32 StillActive = 259;
    // The longest command line the launcher accepts, in bytes.
    static constexpr int MaxCommandLine = 511;

    // Assigns ltFrench, which refills the shared error-text table with the French texts.
    explicit TAppExec(QObject *owner = nullptr);
    ~TAppExec() override;

    bool ChangeDir() const { return changeDir_; }
    void setChangeDir(bool value) { changeDir_ = value; }
    qint32 ErrNo() const { return errNo_; }
    QString ExeName() const { return exeName_; }
    void setExeName(const QString &value) { exeName_ = value; }
    // The launcher's own parameter lines; assigning copies the given lines.
    const QStringList &ExeParams() const { return exeParams_; }
    QStringList &ExeParams() { return exeParams_; }
    void setExeParams(const QStringList &lines) { exeParams_ = lines; }
    QString ExePath() const { return exePath_; }
    // Stores the value; one final separator ('\' or '/') is removed unless the value is that
    // separator alone or a drive root such as "D:\".
    void setExePath(const QString &value);
    TLangType LangType() const { return langType_; }
    // Stores the value and refills the error-text table shared by every launcher.
    void setLangType(TLangType value);
    TPriorClass PriorityClass() const { return priorityClass_; }
    void setPriorityClass(TPriorClass value) { priorityClass_ = value; }
    bool Wait() const { return wait_; }
    void setWait(bool value) { wait_ = value; }
    TWindowState WindowState() const { return windowState_; }
    // A new value also sets ShowCommand (1 normal, 2 minimized, 3 maximized); an equal value
    // changes nothing.
    void setWindowState(TWindowState value);

    // How the started program is asked to show its first window.
    quint16 ShowCommand() const { return showCommand_; }
    // The process id of the last program this launcher waited for (0 before the first wait).
    pid_t ProcessHandle() const { return processHandle_; }

    // ExeName followed, for each parameter line, by one blank and the line; nothing is quoted
    // or trimmed.
    QString CommandLine() const;
    // The text of the shared table for ErrNo; empty when ErrNo has no entry.
    QString ErrorText() const;
    // The table entry (1 to 17) for an error number, or 0 when the number has none.
    static int ErrorEntry(qint32 number);

    // Starts the program. Returns once it has started, or with Wait once it has ended (its exit
    // code is then in ErrNo; a program ended by a signal reads as minus the signal number).
    // Throws EAppExecChDir when the directory cannot be made current, EAppExecWinExec when the
    // program cannot be started or its end cannot be read. A wait is abandoned, leaving the
    // program running, when the application quits meanwhile.
    void Execute();

    // The published properties a stored layout records now: those away from their stored
    // default, non-empty texts and lists, never ErrNo; Wait and WindowState always.
    QStringList StoredProperties() const;

private:
    // Sets ErrNo from an errno value and throws EAppExecWinExec with its text.
    [[noreturn]] void raiseStartError(int err);
    void waitForEnd(pid_t pid);

    bool changeDir_ = true;
    qint32 errNo_ = 32;
    QString exeName_;
    QStringList exeParams_;
    QString exePath_;
    TLangType langType_ = ltFrench;
    TPriorClass priorityClass_ = pcNormal;
    bool wait_ = false;
    TWindowState windowState_ = wsNormal;
    quint16 showCommand_ = 1;
    pid_t processHandle_ = 0;
};
