#include "cardfiles.h"

#include "appstate.h"
#include "errors.h"
#include "files.h"

#include <QFile>

#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace meridoc {
namespace {

constexpr qint64 CopyBufferSize = 64 * 1024;

QByteArray encoded(const QString &path) {
    return QFile::encodeName(path);
}

// The path of a card file inside the program directory. A name that would reach outside it is
// not a card file name.
QString cardPath(const QString &name) {
    if (name.isEmpty() || name.contains('/') || name.contains(QChar(0)))
        throw EInOutError(ioerror::PathNotFound);
    return files::resolve(AppState.ProgramDir, name);
}

// The status of an existing file; a missing one is "File not found", a directory is not a file.
struct stat statusOf(const QString &path) {
    struct stat st {};
    if (::stat(encoded(path).constData(), &st) != 0)
        EInOutError::raiseFromErrno(errno);
    if (S_ISDIR(st.st_mode))
        throw EInOutError(ioerror::AccessDenied);
    return st;
}

// The paths of an existing source card file and of the target it is to replace, checked before
// anything is written; nothing when both name the same file. A target that exists must be a
// file that may be written over.
std::optional<std::pair<QString, QString>> transferPaths(const QString &source,
                                                         const QString &target) {
    const QString from = cardPath(source);
    const QString to = cardPath(target);
    const struct stat st = statusOf(from);
    struct stat existing {};
    if (::stat(encoded(to).constData(), &existing) != 0)
        return std::pair{from, to};
    if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)
        return std::nullopt;
    if (S_ISDIR(existing.st_mode) || files::isReadOnly(to))
        throw EInOutError(ioerror::AccessDenied);
    return std::pair{from, to};
}

} // namespace

void CopyCardFile(const QString &source, const QString &target) {
    files::DirectoryLock lock(AppState.ProgramDir);
    const auto paths = transferPaths(source, target);
    if (!paths)
        return;
    files::File in = files::File::openForReading(paths->first);
    files::ReplacementFile out(paths->second, in.mode());
    std::vector<char> buffer(CopyBufferSize);
    for (qint64 offset = 0;;) {
        const qint64 n = in.readAt(buffer.data(), CopyBufferSize, offset);
        if (n == 0)
            break;
        out.file().writeAt(buffer.data(), n, offset);
        offset += n;
    }
    out.commit();
}

void MoveCardFile(const QString &source, const QString &target) {
    files::DirectoryLock lock(AppState.ProgramDir);
    if (const auto paths = transferPaths(source, target))
        files::replaceFile(paths->first, paths->second);
}

void DeleteCardFile(const QString &name) {
    files::DirectoryLock lock(AppState.ProgramDir);
    const QString path = cardPath(name);
    statusOf(path);
    if (files::isReadOnly(path))
        throw EInOutError(ioerror::AccessDenied);
    if (::unlink(encoded(path).constData()) != 0)
        EInOutError::raiseFromErrno(errno);
    files::syncDirectory(AppState.ProgramDir);
}

} // namespace meridoc
