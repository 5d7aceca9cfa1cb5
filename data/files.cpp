#include "files.h"

#include "errors.h"
#include "text.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc::files {
namespace {

QByteArray encoded(const QString &path) {
    return QFile::encodeName(path);
}

int lockDepth = 0;

// Opens `path` without waiting on a pipe or device, then refuses anything but a regular file.
int openRegularFd(const QString &path, int access) {
    const int fd = ::open(encoded(path).constData(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        throw EInOutError(ioerror::AccessDenied);
    }
    return fd;
}

// Creates the temporary file `path` ("temp.tmp") afresh: a stale file, link, pipe or device there
// is removed, a directory is refused; the new file is owner-writable whatever was there.
int createTempTmp(const QString &path) {
    const QByteArray p = encoded(path);
    struct stat st {};
    if (::lstat(p.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw EInOutError(ioerror::AccessDenied);
        if (::unlink(p.constData()) != 0)
            EInOutError::raiseFromErrno(errno);
    }
    const int fd = ::open(p.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    ::fchmod(fd, 0600);
    return fd;
}

// The regular file a symbolic link `path` leads to, or nothing when `path` is no such link.
std::optional<QString> linkedRegularFile(const QString &path) {
    struct stat st {};
    const QByteArray p = encoded(path);
    if (::lstat(p.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return std::nullopt;
    char *real = ::realpath(p.constData(), nullptr);
    if (!real)
        return std::nullopt;
    const QString result = QFile::decodeName(real);
    std::free(real);
    if (::stat(encoded(result).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return result;
}

// Staged files are named "." + the target's name + StagedMarker + the writer's process id + "-"
// + six random characters, so a later run tells them from every other file and knows whether
// their writer still runs.
constexpr char StagedMarker[] = ".meridoc-staged-";
constexpr qsizetype MaxStagedBase = 200; // keeps the staged name within the 255 bytes allowed

// A new file of its own beside `target`, under a staged name.
int createBeside(const QString &target, QString &path) {
    const QByteArray base = encoded(target.mid(target.lastIndexOf('/') + 1)).left(MaxStagedBase);
    QByteArray pattern = encoded(directoryOf(target)) + "." + base + StagedMarker +
                         QByteArray::number(qint64(::getpid())) + "-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    ::fchmod(fd, 0600);
    path = QFile::decodeName(pattern);
    return fd;
}

// The process id a staged name carries; 0 when the name is not a staged one.
qint64 stagedWriter(const QByteArray &name) {
    const qsizetype marker = name.lastIndexOf(StagedMarker);
    if (!name.startsWith('.') || marker < 2)
        return 0;
    const QByteArray rest = name.mid(marker + qsizetype(sizeof StagedMarker) - 1);
    const qsizetype dash = rest.indexOf('-');
    if (dash < 1 || rest.size() - dash - 1 != 6)
        return 0;
    bool ok = false;
    const qint64 pid = rest.left(dash).toLongLong(&ok);
    const bool digits =
        std::all_of(rest.begin(), rest.begin() + dash, [](char c) { return c >= '0' && c <= '9'; });
    return ok && digits && pid > 0 ? pid : 0;
}

// The file a replacement of `target` checks and replaces: the target itself, or the regular file
// its link points to when links are followed.
QString replacedPath(const QString &target, Link link) {
    if (link == Link::Follow) {
        if (const auto linked = linkedRegularFile(target))
            return *linked;
    }
    return target;
}

// Refuses to replace a directory, something that is not a regular file, or a read-only file.
void refuseUnwritable(const QString &path) {
    struct stat st {};
    if (::lstat(encoded(path).constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return; // nothing there, or a link that is replaced as it stands
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)
        throw EInOutError(ioerror::AccessDenied);
}

} // namespace

File File::openRegular(const QString &path, int access) {
    return File(openRegularFd(path, access));
}

bool isReadOnly(const QString &path) {
    struct stat st {};
    return ::stat(encoded(path).constData(), &st) == 0 && (st.st_mode & 0222) == 0;
}

File::~File() {
    if (fd_ >= 0)
        ::close(fd_);
}

File::File(File &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File &File::operator=(File &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

File File::openExisting(const QString &path) {
    File file = openRegular(path, O_RDWR);
    if ((file.mode() & 0222) == 0)
        throw EInOutError(ioerror::AccessDenied);
    return file;
}

File File::openForReading(const QString &path) {
    return openRegular(path, O_RDONLY);
}

File File::create(const QString &path, mode_t mode) {
    const QByteArray p = encoded(path);
    struct stat st {};
    if (::stat(p.constData(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & 0222) == 0))
        throw EInOutError(ioerror::AccessDenied);
    const int fd = ::open(p.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    return File(fd);
}

qint64 File::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        EInOutError::raiseFromErrno(errno);
    return st.st_size;
}

mode_t File::mode() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        EInOutError::raiseFromErrno(errno);
    return st.st_mode & 07777;
}

qint64 File::readAt(void *buffer, qint64 length, qint64 offset) const {
    auto *out = static_cast<char *>(buffer);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd_, out + done, length - done, offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            EInOutError::raiseFromErrno(errno);
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

void File::readExactlyAt(void *buffer, qint64 length, qint64 offset) const {
    if (readAt(buffer, length, offset) != length)
        throw EInOutError(ioerror::ReadBeyondEnd);
}

QByteArray File::readAll(qint64 limit) {
    QByteArray out;
    char buffer[64 * 1024];
    while (out.size() <= limit) {
        const qint64 n = readAt(buffer, sizeof buffer, out.size());
        if (n == 0)
            break;
        out.append(buffer, n);
    }
    return out.left(limit + 1);
}

void File::writeAt(const void *buffer, qint64 length, qint64 offset) {
    const auto *in = static_cast<const char *>(buffer);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd_, in + done, length - done, offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            EInOutError::raiseFromErrno(errno);
        }
        if (n == 0)
            throw EInOutError(ioerror::DiskFull);
        done += n;
    }
}

void File::sync() {
    if (::fsync(fd_) != 0)
        EInOutError::raiseFromErrno(errno);
}

void File::close() {
    const int fd = std::exchange(fd_, -1);
    if (fd >= 0 && ::close(fd) != 0)
        EInOutError::raiseFromErrno(errno);
}

mode_t newFileMode(mode_t mode) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & ~mask;
}

ReplacementFile::ReplacementFile(const QString &target, mode_t mode, Replacement how)
    : target_(replacedPath(target, how.link)), mode_(mode), flush_(how.flush) {
    refuseUnwritable(target_);
    if (how.staging == Staging::Beside || target_ != target) {
        file_ = File::adopt(createBeside(target_, path_));
    } else {
        path_ = resolve(directoryOf(target_), QStringLiteral("temp.tmp"));
        file_ = File::adopt(createTempTmp(path_));
    }
}

ReplacementFile::~ReplacementFile() {
    if (!committed_)
        ::unlink(encoded(path_).constData());
}

void ReplacementFile::finish() {
    if (!file_.isOpen())
        return;
    if (::fchmod(file_.fd(), mode_ & 07777) != 0)
        EInOutError::raiseFromErrno(errno);
    if (flush_ == Flush::Each)
        file_.sync();
    file_.close();
}

void ReplacementFile::commit(bool syncLater) {
    finish();
    putInPlace(path_, target_);
    committed_ = true;
    if (!syncLater)
        syncDirectory(directoryOf(target_));
}

QString ReplacementFile::release() {
    finish();
    committed_ = true;
    return path_;
}

void putInPlace(const QString &staged, const QString &target) {
    if (::rename(encoded(staged).constData(), encoded(target).constData()) != 0)
        EInOutError::raiseFromErrno(errno);
}

mode_t modeFor(const QString &target, mode_t mode) {
    struct stat st {};
    if (::stat(encoded(target).constData(), &st) == 0)
        return st.st_mode & 07777;
    return newFileMode(mode);
}

bool isStagedName(const QByteArray &name) {
    return stagedWriter(name) != 0;
}

void removeStaleStagedFiles(const QString &dir) {
    const QByteArray dirBytes = encoded(dir);
    struct stat journal {};
    if (::lstat(encoded(dir + CommitJournalName).constData(), &journal) == 0)
        return;
    DIR *d = ::opendir(dirBytes.constData());
    if (!d)
        return;
    while (const dirent *e = ::readdir(d)) {
        const qint64 pid = stagedWriter(QByteArray(e->d_name));
        // A writer that still runs (this process included) may yet commit its file.
        if (pid == 0 || pid == ::getpid() || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        const QByteArray path = dirBytes + e->d_name;
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(path.constData());
    }
    ::closedir(d);
}

void replaceFile(const QString &source, const QString &target) {
    if (::rename(encoded(source).constData(), encoded(target).constData()) != 0)
        EInOutError::raiseFromErrno(errno);
    syncDirectory(directoryOf(target));
}

namespace {

// Calls `sync` (fsync or syncfs) on a descriptor of `dir`; the error `tolerated` is none.
void syncThrough(const QString &dir, int (*sync)(int), int tolerated) {
    const int fd = ::open(encoded(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    const int rc = sync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && err != tolerated)
        EInOutError::raiseFromErrno(err);
}

} // namespace

void syncDirectory(const QString &dir) {
    // Some file systems cannot sync a directory (EINVAL); nothing is lost then.
    syncThrough(dir, ::fsync, EINVAL);
}

void syncFileSystem(const QString &dir) {
    syncThrough(dir, ::syncfs, 0);
}

DirectoryLock::DirectoryLock(const QString &dir) {
    if (lockDepth > 0) {
        ++lockDepth;
        return;
    }
    const int fd = ::open(encoded(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    int rc;
    while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        EInOutError::raiseFromErrno(err);
    }
    fd_ = fd;
    ++lockDepth;
}

DirectoryLock::~DirectoryLock() {
    --lockDepth;
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

} // namespace meridoc::files
