#pragma once

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

// The directory part of `path`, ending with '/' ("./" for a bare name).
QString directoryOf(const QString &path);

} // namespace meridoc::files
