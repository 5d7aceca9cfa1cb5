#pragma once

#include "appstate.h"
#include "entryrecord.h"

#include <QString>

namespace meridoc {

// Finds the program directory, rewrites the seed card file, creates the configuration file when
// it is missing and fills AppState from it. `programDir` ends with '/'. A failing file operation
// throws EInOutError and leaves the remaining steps undone.
void LoadConfiguration(const QString &programDir);

// The card-file extension and current card file the configuration of the program folder
// `programDir` (ending with '/') names, as the start-up reads them, writing nothing: a missing
// file, key or card file, or a name that cannot name a file inside the folder, gives TANRO / CRD.
ApplicationState ReadConfiguration(const QString &programDir);
// Sets AppState's CardExtension and CurrentFileName so from AppState.ProgramDir.
void ReadConfiguration();

// Writes "meridoc.ini" with its default content, replacing any file of that name.
void CreateDefaultConfiguration();

// Makes `name` (unchanged) the card file opened at the next start. Throws meridoc::Exception
// "Unable to write to <path>" when the configuration file cannot be written.
void WriteDefaultFile(const QString &name);

// The one entry of the seed card file.
EntryRecord SeedEntry();

// Writes "tanro.crd" anew holding exactly the seed entry (assembled in DroppedEntry).
void WriteSeedCardFile();

inline const QString ConfigFileName = QStringLiteral("meridoc.ini");
inline const QString SeedCardFileName = QStringLiteral("tanro.crd");

} // namespace meridoc
