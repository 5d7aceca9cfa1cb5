#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// Starting, watching and reaping the programs the launcher starts.
namespace appexec {

// The outcome of a start: the child's process id, or -1 and the errno of the failure.
struct StartResult {
    pid_t pid = -1;
    int error = 0;
};

// Finds the program named by `name`: a name holding a '/' is taken as a path; a bare name is
// looked up first in `programDir` (ignoring letter case, as every name there is), then in the
// directories of PATH. Returns the path, or an empty string with `*error` set to ENOENT (nothing
// of that name) or EACCES (only files that may not be executed).
QString findProgram(const QString &name, const QString &programDir, int *error);

// Starts `words` (the program name, then its arguments) as a new session with the caller's
// environment and current directory, at the given nice value (best effort: a value the caller
// may not set leaves the inherited one). No descriptor beyond 0 to 2 is inherited.
StartResult startProgram(const QStringList &words, const QString &programDir, int niceValue);

// Watches one started child without polling the processor: it waits on a process descriptor
// (or, where the kernel has none, checks every 50 ms) and reaps the child as soon as it ends.
class ChildWatch : public QObject {
    Q_OBJECT

public:
    explicit ChildWatch(pid_t pid, QObject *parent = nullptr);
    ~ChildWatch() override;

    bool hasEnded() const { return ended_; }
    bool hasFailed() const { return error_ != 0; }
    int error() const { return error_; } // errno of a failed reap
    // The exit code, or minus the signal number for a child that a signal ended.
    int exitCode() const { return exitCode_; }

signals:
    void finished(); // ended or failed

private:
    void check();

    pid_t pid_;
    int pidfd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    QTimer *poll_ = nullptr;
    bool ended_ = false;
    int error_ = 0;
    int exitCode_ = 0;
};

// Reaps the child when it ends, with nobody waiting for it, so that no zombie stays behind.
void reapWhenEnded(pid_t pid);

} // namespace appexec
