#include "files.h"

#include "errors.h"
#include "text.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
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

bool isDirectory(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool existsAsFile(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Every non-directory entry of `dir` for which `accept` holds.
template <typename Accept> QList<QByteArray> scan(const QString &dir, Accept accept) {
    QList<QByteArray> names;
    const QByteArray dirBytes = encoded(dir);
    DIR *d = ::opendir(dirBytes.constData());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == ".." || !accept(name))
            continue;
        if (!isDirectory(dirBytes + name))
            names.append(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

int lockDepth = 0;

QString directoryOf(const QString &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash >= 0 ? path.left(slash + 1) : QStringLiteral("./");
}

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

// A new file of its own beside `target`, named after it.
int createBeside(const QString &target, QString &path) {
    QByteArray pattern =
        encoded(directoryOf(target) + "." + target.mid(target.lastIndexOf('/') + 1) + ".XXXXXX");
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    path = QFile::decodeName(pattern);
    return fd;
}

} // namespace

File File::openRegular(const QString &path, int access) {
    return File(openRegularFd(path, access));
}

QString resolve(const QString &dir, const QString &name) {
    const QString exact = dir + name;
    if (name.isEmpty() || existsAsFile(encoded(exact)))
        return exact;
    const QByteArray wanted = encoded(name);
    const auto matches = scan(
        dir, [&](const QByteArray &entry) { return text::equalsIgnoringAsciiCase(entry, wanted); });
    return matches.isEmpty() ? exact : dir + QFile::decodeName(matches.first());
}

bool fileExists(const QString &dir, const QString &name) {
    return !name.isEmpty() && existsAsFile(encoded(resolve(dir, name)));
}

QStringList listWithExtension(const QString &dir, const QString &extension) {
    const QByteArray suffix = text::upperAscii(encoded("." + extension));
    const auto matches = scan(dir, [&](const QByteArray &entry) {
        return entry.size() > suffix.size() && text::upperAscii(entry).endsWith(suffix);
    });
    QStringList out;
    for (const QByteArray &m : matches)
        out.append(QFile::decodeName(m));
    return out;
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

ReplacementFile::ReplacementFile(const QString &target, mode_t mode) : mode_(mode) {
    if (const auto linked = linkedRegularFile(target)) {
        target_ = *linked;
        file_ = File::adopt(createBeside(target_, path_));
    } else {
        target_ = target;
        path_ = resolve(directoryOf(target), QStringLiteral("temp.tmp"));
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
    file_.sync();
    file_.close();
}

void ReplacementFile::commit() {
    finish();
    replaceFile(path_, target_);
    committed_ = true;
}

File newFileBeside(const QString &target, QString &path) {
    return File::adopt(createBeside(target, path));
}

void replaceFile(const QString &source, const QString &target) {
    if (::rename(encoded(source).constData(), encoded(target).constData()) != 0)
        EInOutError::raiseFromErrno(errno);
    syncDirectory(directoryOf(target));
}

void syncDirectory(const QString &dir) {
    const int fd = ::open(encoded(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL) // some file systems cannot sync a directory; nothing is lost
        EInOutError::raiseFromErrno(err);
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
