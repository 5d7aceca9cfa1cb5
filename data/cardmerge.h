#pragma once

#include "entryrecord.h"

#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace meridoc {

// Adds a batch of records to the current card file with the outcome of appending each of them
// with AppendEntry and then running SortCardFile, but in one pass and one write: the batch,
// sorted stably by SortKey, is merged with the (sorted) card file into "temp.tmp", which commit()
// renames over the card file. A record that is the same entry as one already in the card file, or
// as one earlier in the batch, is skipped. A card file that is missing counts as empty and is
// created; a card file whose records are out of order is sorted on the way (its records are then
// held in memory); a trailing partial record is dropped, as AppendEntry overwrites it. Nothing
// changes until commit(); a merge that is never committed removes its "temp.tmp".
//
// The caller holds files::DirectoryLock from construction until after commit().
class CardMerge {
public:
    // Called once for each batch record, as it is placed or skipped.
    using Progress = std::function<void()>;

    // Works out the merge; with `write`, builds the new card file in "temp.tmp". Throws
    // EInOutError for the card file or "temp.tmp".
    CardMerge(std::span<const EntryRecord> batch, bool write, const Progress &progress = {});
    ~CardMerge();
    CardMerge(const CardMerge &) = delete;
    CardMerge &operator=(const CardMerge &) = delete;

    // For each record of the batch, in batch order: skipped as an entry already there.
    const std::vector<bool> &skipped() const { return skipped_; }
    qint64 skippedCount() const { return skippedCount_; }
    // The path the card file has (or will have once created).
    const QString &path() const { return path_; }

    // Puts the new card file in place (fsynced, renamed, directory synced). Does nothing when
    // nothing was added to an existing card file.
    void commit();

private:
    class Output;

    QString path_;
    std::vector<bool> skipped_;
    qint64 skippedCount_ = 0;
    std::unique_ptr<Output> output_;
    bool needed_ = false; // there is something to write
};

} // namespace meridoc
