#pragma once

#include "commands.h"

#include <QString>

namespace meridoc::cards {

enum class ExportFormat { VCard3, VCard4, Csv };

struct ExportRequest {
    ExportFormat format = ExportFormat::VCard3;
    QString output; // a file written atomically; empty: ctx.out
    QString folder; // a sync folder of one vCard per entry instead of one output
};

// Exports the card file's distinct entries (the same entry twice is written once) in card-file
// order. Throws Failure.
void RunExport(const CommandContext &ctx, const ExportRequest &request);

// The file in which a sync folder written before it had a state listed the vCards this tool
// wrote there: the first round takes them over (and removes those whose entries are gone), then
// removes the list.
inline const QString SyncManifestName = QStringLiteral(".meridoc-cards");

} // namespace meridoc::cards
