#include "files.h"

#include "errors.h"
#include "text.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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

} // namespace

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
    const QByteArray p = encoded(path);
    struct stat st {};
    if (::stat(p.constData(), &st) != 0)
        EInOutError::raiseFromErrno(errno);
    if (S_ISDIR(st.st_mode) || (st.st_mode & 0222) == 0)
        throw EInOutError(ioerror::AccessDenied);
    const int fd = ::open(p.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    return File(fd);
}

File File::openForReading(const QString &path) {
    const QByteArray p = encoded(path);
    if (isDirectory(p))
        throw EInOutError(ioerror::AccessDenied);
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        EInOutError::raiseFromErrno(errno);
    return File(fd);
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

void replaceFile(const QString &source, const QString &target) {
    if (::rename(encoded(source).constData(), encoded(target).constData()) != 0)
        EInOutError::raiseFromErrno(errno);
    const qsizetype slash = target.lastIndexOf('/');
    syncDirectory(slash >= 0 ? target.left(slash + 1) : QStringLiteral("."));
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
    if (lockDepth++ > 0)
        return;
    fd_ = ::open(encoded(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        return; // the operation itself will report the unusable directory
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

DirectoryLock::~DirectoryLock() {
    --lockDepth;
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
}

} // namespace meridoc::files
