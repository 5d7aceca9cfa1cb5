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

// The operations that change a card file. Each takes the card file's path and the records it
// works on, holds the lock of the card file's directory while it runs, and builds any new content
// beside the card file (temp.tmp, or scratch files in the same directory).

// Writes `entry` at the end of `cardFile`, which must exist. A trailing partial record is
// overwritten. Does not sort.
void AppendEntry(const QString &cardFile, const EntryRecord &entry);

// Writes `cardFile` anew without every record that is the same entry as `dropped`, then, if
// given, with `replacement` at the end. Does not sort. The new content is built in "temp.tmp" and
// renamed over the card file, so a failure leaves the card file whole.
void RewriteCardFile(const QString &cardFile, const EntryRecord &dropped,
                     const EntryRecord *replacement);

// Sorts `cardFile` by SortKey, stably: entries with equal keys keep their file order. The sorted
// file replaces the old one atomically; a trailing partial record stays at the end.
void SortCardFile(const QString &cardFile);

// RewriteCardFile(cardFile, dropped, &replacement) followed by SortCardFile(cardFile), with the
// same outcome, done in a single pass over a sorted card file. Whatever the card file holds, the
// new content replaces it by one rename, so a failure at any point leaves it as it was.
void ReplaceEntry(const QString &cardFile, const EntryRecord &dropped,
                  const EntryRecord &replacement);

// ReplaceEntry, but only while `cardFile` still holds a record of the entry `dropped`: false,
// writing nothing, when it holds none (another program changed or removed the entry since it was
// read). The test and the change run under one lock.
bool ReplaceListedEntry(const QString &cardFile, const EntryRecord &dropped,
                        const EntryRecord &replacement);

// AppendEntry(cardFile, entry) followed by SortCardFile(cardFile), with the same outcome, done in a
// single pass over a sorted card file. Whatever the card file holds (records out of order, a
// partial record at the end), the new content replaces it by one rename, so a failure at any
// point leaves it as it was.
void AddEntry(const QString &cardFile, const EntryRecord &entry);

// The same operations on the current card file (CardFilePath()) and the program-wide record
// buffers, for the windows.

// Builds the record of the five texts (each cut to its field's maximum) in RecordBuffer and
// appends it.
void AppendEntry(const std::array<QByteArray, FieldCount> &texts);
// Drops DroppedEntry and, if asked, appends ReplacementEntry.
void RewriteCardFile(bool appendReplacement);
void SortCardFile();
// Replaces DroppedEntry by ReplacementEntry, sorted into place.
void ReplaceEntry();
// The same, only while the card file still holds DroppedEntry; false, writing nothing, otherwise.
bool ReplaceListedEntry();
// Builds the record of the five texts in RecordBuffer and adds it, sorted into place.
void AddEntry(const std::array<QByteArray, FieldCount> &texts);

} // namespace meridoc
