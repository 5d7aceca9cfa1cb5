#include "data/extratext_io.h"

#include "data/errors.h"
#include "data/files.h"
#include "data/rtf.h"

#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

#include <optional>
#include <sys/stat.h>

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

[[noreturn]] void failedToLoad() {
    throw Exception(QStringLiteral("Failed to Load Stream"));
}

// Something other than a regular file or a directory: a pipe, a device, a socket.
bool isSpecialFile(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode) &&
           !S_ISDIR(st.st_mode);
}

} // namespace

void LoadExtraText(const QString &path, QTextDocument &doc) {
    files::File file;
    try {
        file = files::File::openForReading(path);
    } catch (const EInOutError &) {
        if (isSpecialFile(path))
            throw; // "File access denied": only regular files are read
        throw Exception(QStringLiteral("Cannot open file %1").arg(path));
    }
    QByteArray bytes;
    try {
        bytes = file.readAll(kMaxExtraTextBytes);
    } catch (const EInOutError &) {
        failedToLoad();
    }
    if (bytes.size() > kMaxExtraTextBytes)
        failedToLoad();
    rtf::read(bytes, doc);
}

void SaveExtraText(const QString &path, const QTextDocument &doc) {
    if (path.isEmpty())
        cannotCreate(path);
    const QByteArray data = rtf::write(doc);
    // Another running copy of the program may be saving or cleaning up the same file.
    std::optional<files::DirectoryLock> lock;
    try {
        lock.emplace(QFileInfo(path).absolutePath() + "/");
    } catch (const EInOutError &) {
        cannotCreate(path);
    }
    // A replaced file keeps its permissions; a new one gets the usual ones. A read-only file
    // is not replaced, like a read-only card file.
    mode_t mode = files::newFileMode(0666);
    struct stat old {};
    if (::stat(QFile::encodeName(path).constData(), &old) == 0) {
        if (S_ISDIR(old.st_mode) || (old.st_mode & 0222) == 0)
            cannotCreate(path);
        if (!S_ISREG(old.st_mode))
            throw EInOutError(ioerror::AccessDenied);
        mode = old.st_mode & 07777;
    }
    std::optional<files::ReplacementFile> out;
    try {
        out.emplace(path, mode);
    } catch (const Exception &) {
        cannotCreate(path);
    }
    try {
        out->file().writeAt(data.constData(), data.size(), 0);
        out->finish();
    } catch (const Exception &) {
        failedToSave();
    }
    try {
        out->commit();
    } catch (const Exception &) {
        cannotCreate(path);
    }
}

} // namespace meridoc
