#pragma once

#include "entryrecord.h"
#include "files.h"

#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace meridoc {

class NewCardFile;

// Adds a batch of records to a card file with the outcome of appending each of them
// with AppendEntry and then running SortCardFile, but in one pass and one write: the batch,
// sorted stably by SortKey, is merged with the (sorted) card file into "temp.tmp", which commit()
// renames over the card file. A record that is the same entry as one already in the card file, or
// as one earlier in the batch, is skipped. A card file that is missing counts as empty and is
// created; a card file whose records are out of order is sorted on the way; a trailing partial
// record is dropped, as AppendEntry overwrites it. The batch and the card file are sorted through
// scratch files, so memory stays bounded whatever their size. Nothing changes until commit(); a
// merge that is never committed removes its "temp.tmp".
//
// The caller holds files::DirectoryLock from construction until after commit().
class CardMerge {
public:
    // Called once for each batch record, as it is placed or skipped.
    using Progress = std::function<void()>;
    // Records of the card file that the batch replaces: they are left out of the new card file.
    using Replaced = std::function<bool(const EntryRecord &)>;

    // Works out the merge of the `count` records of `batch` (a file of NumberedRecord, numbered
    // 0 to count - 1 in batch order) into `cardFile`; with `write`, builds the new card file in
    // "temp.tmp" (see files::ReplacementFile). Scratch files go beside the card file. Throws
    // EInOutError for the card file, "temp.tmp" or a scratch file.
    CardMerge(const QString &cardFile, const files::File &batch, qint64 count, bool write,
              const Progress &progress = {}, const Replaced &replaced = {});
    // The same for a batch held in memory.
    CardMerge(const QString &cardFile, std::span<const EntryRecord> batch, bool write,
              const Progress &progress = {});
    ~CardMerge();
    CardMerge(const CardMerge &) = delete;
    CardMerge &operator=(const CardMerge &) = delete;

    // For each record of the batch, in batch order: skipped as an entry already there.
    const std::vector<bool> &skipped() const { return skipped_; }
    qint64 skippedCount() const { return skippedCount_; }
    // Records of the card file left out as replaced.
    qint64 replacedCount() const { return replacedCount_; }
    // The path the card file has (or will have once created).
    const QString &path() const { return path_; }

    // Where the new card file waits for commit(); empty when commit() does nothing.
    QString stagedPath() const;
    // Puts the new card file in place (fsynced, renamed, directory synced). Does nothing when
    // nothing was added to an existing card file.
    void commit();

private:
    QString path_;
    std::vector<bool> skipped_;
    qint64 skippedCount_ = 0;
    qint64 replacedCount_ = 0;
    std::unique_ptr<NewCardFile> output_;
    bool needed_ = false; // there is something to write
};

} // namespace meridoc
