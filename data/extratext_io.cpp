#include "data/extratext_io.h"

#include "data/errors.h"
#include "data/rtf.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextDocument>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc {

namespace {

// Larger files are not extra texts a person wrote; refusing them keeps the
// memory a load needs bounded.
constexpr qint64 kMaxExtraTextBytes = 64 * 1024 * 1024;

[[noreturn]] void cannotCreate(const QString &path) {
    throw Exception(QStringLiteral("Cannot create file %1").arg(path));
}

[[noreturn]] void failedToSave() {
    throw Exception(QStringLiteral("Failed to Save Stream"));
}

// Creates a new, empty temporary file in `dir`; returns its descriptor and
// sets `name`, or returns -1 with errno set.
int createTemporary(const QByteArray &dir, QByteArray &name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = dir + "/.meridoc-" +
               QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".tmp";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, const QByteArray &data) {
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

void syncDirectory(const QByteArray &dir) {
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // the rename has happened; a failure here cannot undo it
    ::close(fd);
}

} // namespace

void LoadExtraText(const QString &path, QTextDocument &doc) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file %1").arg(path));
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0 || bytes.size() + n > kMaxExtraTextBytes)
            throw Exception(QStringLiteral("Failed to Load Stream"));
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    rtf::read(bytes, doc);
}

void SaveExtraText(const QString &path, const QTextDocument &doc) {
    const QByteArray data = rtf::write(doc);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());

    QByteArray temporary;
    const int fd = createTemporary(dir, temporary);
    if (fd < 0)
        cannotCreate(path);
    // A replaced file keeps its permissions; a new one gets the usual ones.
    struct stat old {};
    if (::stat(target.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);

    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.constData());
        failedToSave();
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        ::unlink(temporary.constData());
        cannotCreate(path);
    }
    syncDirectory(dir);
}

} // namespace meridoc
