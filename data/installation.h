#pragma once

#include <QSet>
#include <QString>

namespace meridoc {

// The name of the record an installation keeps of the files it put in place.
inline const QString InstallManifestName = QStringLiteral(".meridoc-install-manifest");

// Whether `name` names a file the installation put into the program folder `programDir` (ending
// with '/'): the programs, their texts and manual page, the install manifest itself, and every
// file of the folder the manifest lists, so a file a later installation adds is known as well.
// Letter case is ignored, as for every name in the folder.
bool IsInstalledFile(const QString &programDir, const QString &name);
// Every name IsInstalledFile knows in `programDir`, upper case: for many names at once.
QSet<QString> InstalledFileNames(const QString &programDir);

} // namespace meridoc
