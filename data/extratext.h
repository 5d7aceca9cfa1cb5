#pragma once

#include "appstate.h"
#include "foldernames.h"

#include <QByteArray>
#include <QSet>
#include <QString>

class QTextDocument;

// Extra-text files: one file per NAME + SURNAME in the program directory, without extension,
// shared by every card file. Names are matched without regard to ASCII letter case. Files are
// written under UTF-8 names; a file whose name is in Windows-1252 bytes (written on the original
// platform) is found as well.
//
// Each operation works in the program folder `folder` names (its ProgramDir, CardExtension and,
// for the clean-up, CurrentFileName); the forms without it work on AppState, for the windows.
namespace meridoc {

// The name the editor loads and saves under: the two texts joined as they stand.
QString EditorExtraTextName(const QString &name, const QString &surname);
// The name the viewer looks for: the two texts joined, then trimmed.
QString ViewerExtraTextName(const QString &name, const QString &surname);
// The key the clean-up compares and deletes by: the two fields joined, trimmed, upper-cased.
QByteArray ExtraTextKey(const QByteArray &name, const QByteArray &surname);

// Whether `name` (ignoring letter case) is one of the files the program itself keeps in the
// program directory: the configuration, the temporary file, and every file of the installation
// (see IsInstalledFile). Such a file is never a card file or an extra text.
bool IsProgramFileName(const QString &programDir, const QString &name);
bool IsProgramFileName(const QString &name); // in AppState.ProgramDir

// Whether an extra-text name may name a file at all: a plain file name inside the program
// directory that is none of the program's own files (no path separator, not "." or "..", not a
// card file of any extension in CardFileExtensions(), not IsProgramFileName, not a staged file).
// Any other name has no extra-text file.
bool IsExtraTextName(const ApplicationState &folder, const QString &name);
bool IsExtraTextName(const QString &name);

// The file's path in the program directory (resolved without regard to case), or an empty string
// when the name may not name an extra-text file.
QString ExtraTextPath(const ApplicationState &folder, const QString &name);
QString ExtraTextPath(const QString &name);
// Whether an extra-text file (not a directory) of that name exists.
bool ExtraTextExists(const ApplicationState &folder, const QString &name);
bool ExtraTextExists(const QString &name);

// The file the viewer shows for `name` (a viewer name, trimmed): the file of that name, else one
// whose name only has blanks around it (the editor saves untrimmed names), else either of these
// spelt in Windows-1252 bytes; letter case ignored. The path is in the file system's bytes, empty
// when there is none.
QByteArray FindExtraText(const ApplicationState &folder, const QString &name);
QByteArray FindExtraText(const QString &name);
// The keys (as ExtraTextKey makes them from an entry) of every name in the program directory, read
// as FindExtraText reads them: a quick way to tell, for many entries, which may have an extra
// text before FindExtraText looks for it.
QSet<QByteArray> ExtraTextKeys(const QString &programDir);
QSet<QByteArray> ExtraTextKeys(); // of AppState.ProgramDir
// The extra texts of a program folder as an operation on many names needs them: the card-file
// extensions the configuration gives and the folder's names are read once, when it is made, so
// that a look-up reads neither again. It answers as the functions above while the folder does
// not change.
class ExtraTextFolder {
public:
    explicit ExtraTextFolder(const ApplicationState &folder);
    const ApplicationState &folder() const { return folder_; }
    // IsExtraTextName.
    bool isName(const QString &name) const;
    // ExtraTextPath, and empty as well when a directory has the name.
    QString path(const QString &name) const;
    // The path of the extra-text file (not a directory) of `name`, empty when there is none:
    // ExtraTextExists and ExtraTextPath together.
    QString existingPath(const QString &name) const;
    // Whether `path` (as path() gives it) is a file, not a directory: existingPath() for a path
    // already found.
    bool isFile(const QString &path) const;
    // ExtraTextKeys.
    const QSet<QByteArray> &keys() const { return keys_; }

private:
    ApplicationState folder_;
    QStringList extensions_;
    QSet<QString> programFiles_; // upper case, as IsProgramFileName knows them
    files::FolderIndex index_;
    QSet<QByteArray> keys_;
};

// Loads a file found by FindExtraText into `doc`, with LoadExtraText's failures.
void LoadExtraTextFile(const QByteArray &path, QTextDocument &doc);

// Deletes the extra-text file named by `key`, and those spelt with blanks around the name or in
// Windows-1252 bytes, unless an entry of a card file of the program directory (any extension of
// CardFileExtensions()) still has that key. Runs under the directory lock. An error reading the
// current card file is raised before anything is deleted; another card file that cannot be read
// keeps the files; a failed deletion is silent.
void RemoveOrphanExtraText(const ApplicationState &folder, const QByteArray &key);
void RemoveOrphanExtraText(const QByteArray &key);

} // namespace meridoc
