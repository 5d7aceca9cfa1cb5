#pragma once

#include "entryrecord.h"
#include "files.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

// Files of fixed-size records read and written a buffer at a time, and the stable sort of such
// files with bounded memory that keeps card files in order.
namespace meridoc {

inline constexpr qint64 RecordBufferCount = 512; // records per read or write buffer

// A card-file record together with its number in a batch, so a sorted batch still tells where
// each record came from.
struct NumberedRecord {
    EntryRecord record;
    qint64 number = 0;
};

inline SortKey sortKeyOf(const EntryRecord &record) {
    return SortKey(record);
}
inline SortKey sortKeyOf(const NumberedRecord &item) {
    return SortKey(item.record);
}

struct RecordRange {
    qint64 first = 0; // record index
    qint64 end = 0;   // one past the last record
};

// Buffered sequential reading of the records [first, end) of a file of Items.
template <typename Item> class RecordReader {
    static_assert(std::is_trivially_copyable_v<Item>);

public:
    RecordReader(const files::File &file, RecordRange range)
        : file_(file), next_(range.first), end_(range.end) {}

    bool next(Item &item) {
        if (pos_ == fill_) {
            const qint64 count = std::min(RecordBufferCount, end_ - next_);
            if (count <= 0)
                return false;
            buffer_.resize(count);
            file_.readExactlyAt(buffer_.data(), count * qint64(sizeof(Item)),
                                next_ * qint64(sizeof(Item)));
            next_ += count;
            fill_ = count;
            pos_ = 0;
        }
        item = buffer_[pos_++];
        return true;
    }

private:
    const files::File &file_;
    qint64 next_;
    qint64 end_;
    std::vector<Item> buffer_;
    qint64 fill_ = 0;
    qint64 pos_ = 0;
};

// Buffered sequential writing from the start of a file.
class RecordWriter {
public:
    explicit RecordWriter(files::File &file) : file_(file) {
        buffer_.reserve(RecordBufferCount * EntryRecord::Size);
    }

    void write(const EntryRecord &record) { writeBytes(record.bytes.data(), EntryRecord::Size); }
    void write(const NumberedRecord &item) { writeBytes(&item, sizeof item); }

    void writeBytes(const void *data, qint64 length) {
        const auto *bytes = static_cast<const unsigned char *>(data);
        buffer_.insert(buffer_.end(), bytes, bytes + length);
        if (qint64(buffer_.size()) >= RecordBufferCount * EntryRecord::Size)
            flush();
    }

    void flush() {
        file_.writeAt(buffer_.data(), qint64(buffer_.size()), offset_);
        offset_ += qint64(buffer_.size());
        buffer_.clear();
    }

private:
    files::File &file_;
    qint64 offset_ = 0;
    std::vector<unsigned char> buffer_;
};

// The new content of a card file, being built beside it (see files::ReplacementFile). commit()
// puts it in the card file's place atomically; if it is never committed it is removed, and the
// card file stays as it was.
class NewCardFile {
public:
    // The new file gets the permission bits `mode` of the card file it replaces.
    NewCardFile(const QString &target, mode_t mode)
        : replacement_(target, mode), writer_(replacement_.file()) {}

    RecordWriter &writer() { return writer_; }
    const QString &stagedPath() const { return replacement_.stagedPath(); }

    void commit() {
        writer_.flush();
        replacement_.commit();
    }

private:
    files::ReplacementFile replacement_;
    RecordWriter writer_;
};

// An unnamed scratch file in `dir` (ending with '/'; or, when that takes no new file, in the
// system's temporary directory), gone once closed.
files::File ScratchFile(const QString &dir);

// The bounded-memory stable sort (recordsort.cpp).

// Writes the first `n` Items (EntryRecord or NumberedRecord) of `source` to `out`, sorted stably by
// SortKey: items with equal keys keep their order. Memory stays bounded: chunks are sorted in
// memory and merged through scratch files in `scratchDir`.
template <typename Item>
void SortRecords(const files::File &source, qint64 n, RecordWriter &out, const QString &scratchDir);

// The maximal non-decreasing runs of the first `n` records of `file`, or nothing when there are
// too many to merge in one pass (SortRecords then does the work).
std::optional<std::vector<RecordRange>> NaturalRuns(const files::File &file, qint64 n);

// Merges sorted runs of records of `source` into `out`. Among equal keys the earlier run goes
// first, so a merge of consecutive runs is stable.
void MergeRuns(const files::File &source, const std::vector<RecordRange> &runs, RecordWriter &out);

} // namespace meridoc
