#include "data/extratext_io.h"

#include "data/errors.h"
#include "data/files.h"
#include "data/rtf.h"

#include <QFile>
#include <QFileInfo>
#include <QTextDocument>

#include <optional>

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

} // namespace

void LoadExtraText(const QString &path, QTextDocument &doc) {
    files::File file;
    try {
        file = files::File::openForReading(path);
    } catch (const EInOutError &) {
        // Also for a pipe, device or socket: only regular files are read, never waited on.
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
    // A replaced file keeps its permissions; a new one gets the usual ones. A read-only file,
    // a directory, a pipe or a device is not replaced, like a read-only card file.
    std::optional<files::ReplacementFile> out;
    try {
        out.emplace(path, files::modeFor(path));
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
