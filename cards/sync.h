#pragma once

#include "commands.h"

#include <QString>

namespace meridoc::cards {

// How long one vdirsyncer run may take before it is stopped.
constexpr int DefaultVdirsyncerSeconds = 300;

struct SyncRequest {
    QString folder;           // the sync folder: one vCard per *.vcf file
    QString pair;             // a vdirsyncer pair run before and after; empty: none
    bool forceDelete = false; // removing more than half of a side's contacts is meant
    // The folder follows the card file and nothing comes back (export --folder): a vCard is
    // patched where its entry changed, written again where it is missing, removed with its entry.
    bool oneWay = false;
    bool version4 = false; // new vCards are written as vCard 4.0 (else 3.0)
    // The folder's vCards that are gone while their entries stay (the server lost them) are
    // written again and pushed, instead of being removed from the card file.
    bool restoreServer = false;
    int vdirsyncerSeconds = DefaultVdirsyncerSeconds; // a longer vdirsyncer run is stopped
};

// One round of a two-way sync between the card file and the folder (with the pair: pulled
// before and pushed after), under the sync folder's lock; the program folder's lock is held only
// while the card file and the extra texts are read and written. Each contact's fields and
// extra-text lines are merged against the state of the last round, kept in the folder's state
// folder. Prints a line per change on ctx.out. Throws Failure.
void RunSync(const CommandContext &ctx, const SyncRequest &request);

// What `meridoc-cards sync` remembers between runs, so that a plain `sync` does a round: the
// program folder, card file, sync folder and vdirsyncer pair last used, in
// $XDG_CONFIG_HOME/meridoc/sync.conf, and the limit of a vdirsyncer run when one was set there.
struct SyncSettings {
    QString dir, cardFile, folder, pair;
    int vdirsyncerSeconds = 0; // 0: the default
};
SyncSettings RememberedSync();
// Throws Failure when the settings cannot be written.
void RememberSync(const SyncSettings &settings);

// Merges two versions of one contact (files `a` and `b`, as vdirsyncer hands over a conflict)
// by the same rules, against what both sides last had of it: the version before the round that is
// being pushed, or the state of the sync folder (the one the sync running vdirsyncer names, else
// the remembered one). Writes the result into both files. Throws Failure.
void RunResolveConflict(const QString &a, const QString &b);

} // namespace meridoc::cards
