#pragma once

#include "commands.h"

#include <QString>

namespace meridoc::cards {

// Reads the program folder's configuration the way the program's start-up does (meridoc.ini,
// section "filenames", keys "extention" and "defaultfile"; a missing or unusable value, or a
// default card file that does not exist, gives TANRO.CRD) but writes nothing: no seed card file,
// no configuration file. `cardFile`, when not empty, names the card file instead of the default
// (a base name; a trailing ".<extension>" is dropped). Fills the context's folder, extension and
// card file. Throws Failure when the folder is not a directory.
void UseProgramFolder(CommandContext &ctx, const QString &programDir, const QString &cardFile);

} // namespace meridoc::cards
