#include "installation.h"

#include "text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sys/stat.h>

namespace meridoc {
namespace {

// What every installation puts into the folder, whether or not a manifest records it.
const QStringList FixedFiles = {QStringLiteral("meridoc"),
                                QStringLiteral("txtview.exe"),
                                QStringLiteral("readme.txt"),
                                QStringLiteral("meridoc-help.txt"),
                                QStringLiteral("meridoc-cards"),
                                QStringLiteral("meridoc-cards.1"),
                                InstallManifestName};

// The names (upper case) the manifest of one folder lists in that folder, read again only when
// the manifest changes, since the question is asked for every name a folder listing meets.
struct ManifestNames {
    QString dir;
    struct stat seen {};
    bool present = false;
    QSet<QString> names;
};

bool sameStatus(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

QString withoutSlash(const QString &dir) {
    return dir.endsWith('/') && dir.size() > 1 ? dir.chopped(1) : dir;
}

QSet<QString> readManifest(const QString &programDir, const QString &path) {
    QSet<QString> names;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return names;
    const QString folder = withoutSlash(programDir);
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    while (!file.atEnd()) {
        QByteArray bytes = file.readLine();
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        const QString line = QFile::decodeName(bytes);
        const qsizetype slash = line.lastIndexOf('/');
        if (slash < 0 || slash == line.size() - 1)
            continue;
        const QString parent = line.left(slash);
        if (parent == folder || QFileInfo(parent).canonicalFilePath() == canonical)
            names.insert(text::upperAscii(line.mid(slash + 1)));
    }
    return names;
}

const QSet<QString> &manifestNames(const QString &programDir) {
    thread_local ManifestNames cache;
    const QString path = programDir + InstallManifestName;
    struct stat st {};
    const bool present = ::stat(QFile::encodeName(path).constData(), &st) == 0;
    if (cache.dir != programDir || cache.present != present ||
        (present && !sameStatus(cache.seen, st))) {
        cache.dir = programDir;
        cache.present = present;
        cache.seen = st;
        cache.names = present ? readManifest(programDir, path) : QSet<QString>();
    }
    return cache.names;
}

} // namespace

bool IsInstalledFile(const QString &programDir, const QString &name) {
    const QString upper = text::upperAscii(name);
    for (const QString &fixed : FixedFiles) {
        if (upper == text::upperAscii(fixed))
            return true;
    }
    return manifestNames(programDir).contains(upper);
}

QSet<QString> InstalledFileNames(const QString &programDir) {
    QSet<QString> names = manifestNames(programDir);
    for (const QString &fixed : FixedFiles)
        names.insert(text::upperAscii(fixed));
    return names;
}

} // namespace meridoc
