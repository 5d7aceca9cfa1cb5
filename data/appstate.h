#pragma once

#include <QString>
#include <QStringList>

namespace meridoc {

// The program-wide texts every file name is built from.
struct ApplicationState {
    QString ProgramDir;      // directory of the running program, ending with '/'
    QString CardExtension;   // extension of card files, without the dot, upper case
    QString CurrentFileName; // base name of the current card file, in the case it arrived in
};

inline ApplicationState AppState;

// The current card file of `state`: ProgramDir + CurrentFileName + "." + CardExtension, resolved
// without regard to letter case.
QString CardFilePath(const ApplicationState &state);
// The same for AppState.
QString CardFilePath();

// Base names are the same when they are equal after both are upper-cased.
bool SameBaseName(const QString &a, const QString &b);
// The seed card file's base name; entry commands refuse to change a card file of this name.
inline const QString SeedBaseName = QStringLiteral("TANRO");
// True when `baseName` upper-cased and trimmed is "TANRO": the seed card file's.
bool IsSeedBaseName(const QString &baseName);
// True when the current card file is the seed card file.
bool CurrentFileIsSeed();

// The extensions (upper case, without the dot) card files of the program directory have: the
// seed card file's "CRD", the current CardExtension, and the one meridoc.ini configures, which is
// not current when start-up has fallen back to the seed card file.
QStringList CardFileExtensions(const ApplicationState &state);
QStringList CardFileExtensions(); // of AppState

} // namespace meridoc
