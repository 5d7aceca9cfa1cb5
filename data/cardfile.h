#pragma once

#include "entryrecord.h"
#include "files.h"

#include <QString>

#include <memory>
#include <span>
#include <vector>

namespace meridoc {

// Reads a card file from its first record to its last. The file is opened for reading and
// writing, so a read-only card file fails with "File access denied" like every other use. A
// trailing partial record fails with "Read beyond end of file" once the whole records before it
// have been delivered.
class CardFileReader {
public:
    explicit CardFileReader(const QString &path);
    // The next record, in place in the reader's buffer and valid until the next call; null at
    // the end of the file. Callers copy only the records they keep.
    const EntryRecord *next() {
        if (bufferPos_ < bufferCount_)
            return &buffer_[bufferPos_++];
        return refill();
    }
    // The records read but not yet delivered (at least one), in place in the reader's buffer and
    // valid until the next call; empty at the end of the file.
    std::span<const EntryRecord> nextBlock();
    // Reads the next record into `record`; false at the end of the file.
    bool next(EntryRecord &record) {
        const EntryRecord *r = next();
        if (r)
            record = *r;
        return r != nullptr;
    }
    qint64 recordCount() const { return wholeRecords_; }
    mode_t mode() const { return file_.mode(); }

private:
    const EntryRecord *refill();

    files::File file_;
    qint64 fileSize_ = 0;
    qint64 wholeRecords_ = 0;
    qint64 offset_ = 0; // file offset of the next read
    std::vector<EntryRecord> buffer_;
    std::size_t bufferCount_ = 0; // whole records in the buffer
    std::size_t bufferPos_ = 0;
    bool tailPending_ = false; // the last read ended in a part of a record
};

// Appends one record made of the five texts (each cut to its field's maximum) at the end of the
// current card file, built in RecordBuffer. The card file must exist. A trailing partial record
// is overwritten. Does not sort.
void AppendEntry(const std::array<QByteArray, FieldCount> &texts);

// Writes the current card file anew without every record that is the same entry as
// DroppedEntry, then, if asked, with ReplacementEntry at the end. Does not sort. The new content
// is built in "temp.tmp" and renamed over the card file, so a failure leaves the card file whole.
void RewriteCardFile(bool appendReplacement);

// Sorts the current card file by SortKey, stably: entries with equal keys keep their file order.
// The sorted file replaces the old one atomically; a trailing partial record stays at the end.
void SortCardFile();

// RewriteCardFile(true) followed by SortCardFile(), with the same outcome, done in a single pass
// over a sorted card file. Whatever the card file holds, the new content replaces it by one rename,
// so a failure at any point leaves it as it was.
void ReplaceEntry();

// AppendEntry(texts) followed by SortCardFile(), with the same outcome, done in a single pass over
// a sorted card file. Whatever the card file holds (records out of order, a partial record at the
// end), the new content replaces it by one rename, so a failure at any point leaves it as it was.
void AddEntry(const std::array<QByteArray, FieldCount> &texts);

} // namespace meridoc
