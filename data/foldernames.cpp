#include "foldernames.h"

#include "text.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

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

FolderIndex::FolderIndex(const QString &dir) : dir_(dir) {
    const QByteArray dirBytes = encoded(dir);
    DIR *d = ::opendir(dirBytes.constData());
    if (!d)
        return;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        // The type is known from the entry itself, except for links and on file systems that
        // do not tell it.
        const bool directory =
            e->d_type == DT_DIR ||
            ((e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) && isDirectory(dirBytes + name));
        entries_.insert(name, directory);
        if (directory)
            continue;
        QByteArray &first = firstFiles_[text::upperAscii(name)];
        if (first.isEmpty() || name < first)
            first = name;
    }
    ::closedir(d);
}

QString FolderIndex::resolve(const QString &name) const {
    const QString exact = dir_ + name;
    const QByteArray bytes = encoded(name);
    const auto found = entries_.constFind(bytes);
    if (name.isEmpty() || (found != entries_.cend() && !*found))
        return exact;
    const QByteArray first = firstFiles_.value(text::upperAscii(bytes));
    return first.isEmpty() ? exact : dir_ + QFile::decodeName(first);
}

bool FolderIndex::isDirectory(const QString &name) const {
    return entries_.value(encoded(name), false);
}

bool FolderIndex::isFile(const QString &name) const {
    const auto found = entries_.constFind(encoded(name));
    return found != entries_.cend() && !*found;
}

QString directoryOf(const QString &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash >= 0 ? path.left(slash + 1) : QStringLiteral("./");
}

} // namespace meridoc::files
