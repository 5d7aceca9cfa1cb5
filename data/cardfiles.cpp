#include "cardfiles.h"

#include "appstate.h"
#include "configuration.h"
#include "errors.h"
#include "files.h"
#include "text.h"

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

// Refuses a target that is the seed card file, by name or as the same file under another name,
// unless the source is that file too.
void refuseSeedTarget(const QString &source, const QString &target) {
    const QString seed = files::resolve(AppState.ProgramDir, SeedCardFileName);
    const auto isSeed = [&seed](const QString &name) {
        if (text::equalsIgnoringAsciiCase(name, SeedCardFileName))
            return true;
        struct stat a {};
        struct stat b {};
        return ::stat(encoded(cardPath(name)).constData(), &a) == 0 &&
               ::stat(encoded(seed).constData(), &b) == 0 && a.st_dev == b.st_dev &&
               a.st_ino == b.st_ino;
    };
    if (isSeed(target) && !isSeed(source))
        throw ESeedCardFileTarget();
}

} // namespace

ESeedCardFileTarget::ESeedCardFileTarget()
    : Exception(QStringLiteral("Cannot use the name of the seed card file %1: it is "
                               "written anew at every start")
                    .arg(SeedCardFileName)) {}

void CopyCardFile(const QString &source, const QString &target) {
    files::DirectoryLock lock(AppState.ProgramDir);
    refuseSeedTarget(source, target);
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
    refuseSeedTarget(source, target);
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
