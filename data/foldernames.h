#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// File access inside the program directory. Names there are matched without regard to ASCII
// letter case, the way the program has always treated its files; every operation that takes a
// name goes through resolve() so "TANRO.CRD", "tanro.crd" and "Tanro.Crd" name one file.
namespace meridoc::files {

// The path of `name` inside `dir` (which ends with '/'): an exact match wins, otherwise the
// first non-directory entry, in byte order of names, that equals `name` ignoring a-z/A-Z case;
// when nothing matches, `dir` + `name` as given (so a new file gets the spelling given here).
QString resolve(const QString &dir, const QString &name);

// True when a file (not a directory) of that name exists in `dir`, matched as resolve() does.
bool fileExists(const QString &dir, const QString &name);

// Names of the files in `dir` whose extension equals `extension` ignoring case, sorted.
QStringList listWithExtension(const QString &dir, const QString &extension);

// The names of a directory read once, for the many look-ups of one operation that resolve() would
// each make by reading the whole directory again: an import looks up one name per contact, and
// 10,000 contacts in a folder of 5,000 files read 50 million directory entries that way.
class FolderIndex {
public:
    // Reads `dir` (ending with '/'); a directory that cannot be read has no names.
    explicit FolderIndex(const QString &dir);
    // What resolve() gives, as long as the directory has not changed since it was read.
    QString resolve(const QString &name) const;
    // Whether `name`, exactly as given, is a directory (or a link to one).
    bool isDirectory(const QString &name) const;
    // Whether `name`, exactly as given, is there and no directory.
    bool isFile(const QString &name) const;
    // Every name of the directory (files and directories), in the file system's bytes.
    QList<QByteArray> names() const { return entries_.keys(); }

private:
    QString dir_;
    QHash<QByteArray, bool> entries_;          // name -> is a directory
    QHash<QByteArray, QByteArray> firstFiles_; // upper-cased name -> first file of it, byte order
};

// The directory part of `path`, ending with '/' ("./" for a bare name).
QString directoryOf(const QString &path);

} // namespace meridoc::files
