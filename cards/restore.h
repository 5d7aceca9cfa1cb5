#pragma once

#include "commands.h"

#include <QString>
#include <QStringList>

namespace meridoc::cards {

struct RestoreRequest {
    QStringList files; // vCards a sync removed (its removed-*.vcf files), or any vCard files
    QString folder;    // the sync folder they go back into
};

// Puts contacts back as they were: each vCard whose UID the sync folder does not hold goes into
// the folder as it stands (UID, photo and every other property), and its entry and extra-text
// lines into the card file, so that the next sync pairs the two and uploads the same card.
// Prints a line per contact on ctx.out. Throws Failure.
void RunRestore(const CommandContext &ctx, const RestoreRequest &request);

} // namespace meridoc::cards
