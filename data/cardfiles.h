#pragma once

#include "errors.h"

#include <QString>

// Whole card files: copying, renaming and deleting them in the program directory. Names are
// file names inside AppState.ProgramDir (base name + "." + extension), matched without regard to
// letter case, so an existing file is always used under the spelling it has on disk. Each
// operation holds the directory lock while it runs and throws EInOutError when it fails; a
// failed operation leaves every card file as it was.
namespace meridoc {

// Copying or renaming onto the seed card file "tanro.crd" (any letter case, or any name of the
// same file) is refused with an error that says so, before anything changes: the file is
// written anew at every start, which would destroy what was put there. Only a copy of the seed
// card file onto itself (NEW "TANRO", which writes nothing) passes.
class ESeedCardFileTarget : public Exception {
public:
    ESeedCardFileTarget();
};

// Copies card file `source` to `target`. The copy is built in "temp.tmp", flushed, and renamed
// over `target`, so an existing target is replaced whole or not at all. Nothing is written when
// both names are the same file. A read-only target is refused with "File access denied".
void CopyCardFile(const QString &source, const QString &target);

// Gives card file `source` the name `target`, replacing an existing target atomically. Nothing
// happens when both names are the same file. A read-only target is refused with "File access
// denied".
void MoveCardFile(const QString &source, const QString &target);

// Deletes card file `name`. A read-only file is refused with "File access denied", a missing
// one reported as "File not found".
void DeleteCardFile(const QString &name);

} // namespace meridoc
