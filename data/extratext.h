#pragma once

#include <QByteArray>
#include <QString>

// Extra-text files: one file per NAME + SURNAME in the program directory, without extension,
// shared by every card file. Names are matched without regard to ASCII letter case.
namespace meridoc {

// The name the editor loads and saves under: the two texts joined as they stand.
QString EditorExtraTextName(const QString &name, const QString &surname);
// The name the viewer looks for: the two texts joined, then trimmed.
QString ViewerExtraTextName(const QString &name, const QString &surname);
// The key the clean-up compares and deletes by: the two fields joined, trimmed, upper-cased.
QByteArray ExtraTextKey(const QByteArray &name, const QByteArray &surname);

// Whether an extra-text name may name a file at all: a plain file name inside the program
// directory that is none of the program's own files (no path separator, not "." or "..", not a
// card file, the configuration, the temporary file, the readme, the executables or the help
// text). Any other name has no extra-text file.
bool IsExtraTextName(const QString &name);

// The file's path in the program directory (resolved without regard to case), or an empty string
// when the name may not name an extra-text file.
QString ExtraTextPath(const QString &name);
// Whether an extra-text file (not a directory) of that name exists.
bool ExtraTextExists(const QString &name);

// Deletes the extra-text file named by `key` unless an entry of the current card file still has
// that key. A card-file error is raised before anything is deleted; a failed deletion is silent.
void RemoveOrphanExtraText(const QByteArray &key);

} // namespace meridoc
