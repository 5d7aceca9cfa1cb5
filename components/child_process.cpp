#include "child_process.h"

#include "data/files.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace appexec {
namespace {

bool isFile(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

QStringList searchPath() {
    const QByteArray path = qgetenv("PATH");
    const QString dirs =
        path.isEmpty() ? QStringLiteral("/usr/local/bin:/usr/bin:/bin") : QFile::decodeName(path);
    QStringList out;
    for (const QString &dir : dirs.split(':'))
        out.append(dir.isEmpty() ? QStringLiteral("./") : (dir.endsWith('/') ? dir : dir + '/'));
    return out;
}

// Runs in the child between fork and exec: only async-signal-safe calls from here on.
[[noreturn]] void execChild(const char *path, char *const argv[], int niceValue, int errorPipe) {
    ::setsid();
    ::setpriority(PRIO_PROCESS, 0, niceValue);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP)
            ::sigaction(sig, &dfl, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Nothing but the standard streams reaches the program; the error pipe closes at exec too.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(path, argv, environ);
    const int err = errno;
    [[maybe_unused]] const ssize_t n = ::write(errorPipe, &err, sizeof err);
    ::_exit(127);
}

} // namespace

QString findProgram(const QString &name, const QString &programDir, int *error) {
    if (name.contains('/'))
        return name; // a path: exec reports what is wrong with it
    QStringList candidates;
    if (meridoc::files::fileExists(programDir, name))
        candidates.append(meridoc::files::resolve(programDir, name));
    for (const QString &dir : searchPath())
        candidates.append(dir + name);
    bool refused = false;
    for (const QString &candidate : candidates) {
        const QByteArray path = QFile::encodeName(candidate);
        if (!isFile(path))
            continue;
        if (::access(path.constData(), X_OK) == 0)
            return candidate;
        refused = true;
    }
    *error = refused ? EACCES : ENOENT;
    return {};
}

StartResult startProgram(const QStringList &words, const QString &programDir, int niceValue) {
    if (words.isEmpty())
        return {-1, ENOENT};
    int error = 0;
    const QString program = findProgram(words.first(), programDir, &error);
    if (program.isEmpty())
        return {-1, error};

    // Everything the child needs is prepared here: it must not allocate after fork.
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> args;
    for (const QString &w : words)
        args.push_back(QFile::encodeName(w));
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0)
        return {-1, errno};
    // No signal handler of this program may run in the child before exec.
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(path.constData(), argv.data(), niceValue, errorPipe[1]);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::close(errorPipe[1]);
    if (pid < 0) {
        ::close(errorPipe[0]);
        return {-1, forkError};
    }
    // The pipe closes without data when exec succeeded; otherwise it carries exec's errno.
    int execError = 0;
    ssize_t n;
    do {
        n = ::read(errorPipe[0], &execError, sizeof execError);
    } while (n < 0 && errno == EINTR);
    ::close(errorPipe[0]);
    if (n == sizeof execError) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return {-1, execError};
    }
    return {pid, 0};
}

ChildWatch::ChildWatch(pid_t pid, QObject *parent) : QObject(parent), pid_(pid) {
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd_ >= 0) {
        // The descriptor becomes readable when the child ends.
        notifier_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &ChildWatch::check);
    } else {
        // A kernel without process descriptors: look every 50 ms, never in a tight loop.
        poll_ = new QTimer(this);
        poll_->setInterval(50);
        connect(poll_, &QTimer::timeout, this, &ChildWatch::check);
        poll_->start();
    }
}

ChildWatch::~ChildWatch() {
    delete notifier_;
    if (pidfd_ >= 0)
        ::close(pidfd_);
}

void ChildWatch::check() {
    if (ended_ || error_)
        return;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return; // still running
    if (r < 0) {
        error_ = errno;
    } else {
        ended_ = true;
        exitCode_ = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    }
    if (notifier_)
        notifier_->setEnabled(false);
    if (poll_)
        poll_->stop();
    emit finished();
}

void reapWhenEnded(pid_t pid) {
    auto *watch = new ChildWatch(pid, QCoreApplication::instance());
    QObject::connect(watch, &ChildWatch::finished, watch, &QObject::deleteLater);
}

} // namespace appexec
