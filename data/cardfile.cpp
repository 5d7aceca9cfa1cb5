#include "cardfile.h"

#include "appstate.h"
#include "errors.h"
#include "recordfile.h"

#include <optional>

namespace meridoc {
namespace {

constexpr qint64 RecSize = EntryRecord::Size;

using RangeReader = RecordReader<EntryRecord>;

// Copies records that are in order to `out` and puts `entry` after every record whose key is not
// greater than its own, which is where a stable sort puts an entry that stands last in the file.
class InsertInOrder {
public:
    InsertInOrder(const EntryRecord &entry, RecordWriter &out)
        : entry_(entry), key_(entry), out_(out) {}

    // Copies one record; false once the records turn out not to be in order.
    bool add(const EntryRecord &record) {
        const SortKey key(record);
        if (previous_ && *previous_ > key)
            return false;
        previous_ = key;
        if (!inserted_ && key > key_) {
            out_.write(entry_);
            inserted_ = true;
        }
        out_.write(record);
        return true;
    }
    // Writes the entry if no record came after it.
    void finish() {
        if (!inserted_)
            out_.write(entry_);
    }

private:
    const EntryRecord &entry_;
    const SortKey key_;
    RecordWriter &out_;
    std::optional<SortKey> previous_;
    bool inserted_ = false;
};

// The usual case after AppendEntry: the records before the last are in order and the last one
// belongs somewhere among them. Streams the file into `out` once. Returns false, leaving `out`
// unusable, once the records before the last turn out not to be in order.
bool insertLastRecord(const files::File &source, qint64 n, const EntryRecord &last,
                      RecordWriter &out) {
    InsertInOrder insert(last, out);
    RangeReader reader(source, {0, n - 1});
    EntryRecord record;
    while (reader.next(record)) {
        if (!insert.add(record))
            return false;
    }
    insert.finish();
    return true;
}

} // namespace

CardFileReader::CardFileReader(const QString &path) : file_(files::File::openExisting(path)) {
    fileSize_ = file_.size();
    wholeRecords_ = fileSize_ / RecSize;
    buffer_.resize(RecordBufferCount);
}

const EntryRecord *CardFileReader::refill() {
    static_assert(sizeof(EntryRecord) == RecSize, "records lie back to back in the buffer");
    if (tailPending_)
        throw EInOutError(ioerror::ReadBeyondEnd);
    qint64 got = 0;
    if (offset_ < fileSize_)
        got = file_.readAt(buffer_.data(), RecordBufferCount * RecSize, offset_);
    if (got == 0) {
        file_.close();
        return nullptr;
    }
    // Reads stop short only at the end of the file: a part of a record there is the partial
    // tail, which fails once the whole records before it have been delivered.
    offset_ += got;
    bufferCount_ = std::size_t(got / RecSize);
    bufferPos_ = 0;
    tailPending_ = got % RecSize != 0;
    if (bufferCount_ == 0)
        throw EInOutError(ioerror::ReadBeyondEnd);
    return &buffer_[bufferPos_++];
}

std::span<const EntryRecord> CardFileReader::nextBlock() {
    if (bufferPos_ >= bufferCount_) {
        if (!refill())
            return {};
        --bufferPos_; // refill() delivered the first record of the block; deliver it here
    }
    const std::span<const EntryRecord> block(buffer_.data() + bufferPos_,
                                             bufferCount_ - bufferPos_);
    bufferPos_ = bufferCount_;
    return block;
}

void AppendEntry(const QString &cardFile, const EntryRecord &entry) {
    files::DirectoryLock lock(files::directoryOf(cardFile));
    files::File card = files::File::openExisting(cardFile);
    card.writeAt(entry.bytes.data(), RecSize, card.size() / RecSize * RecSize);
    card.sync();
    card.close();
}

void RewriteCardFile(const QString &cardFile, const EntryRecord &dropped,
                     const EntryRecord *replacement) {
    files::DirectoryLock lock(files::directoryOf(cardFile));
    CardFileReader reader(cardFile);
    const EntryKey droppedKey(dropped);
    NewCardFile out(cardFile, reader.mode());
    while (const EntryRecord *record = reader.next()) {
        if (!droppedKey.matches(*record))
            out.writer().write(*record);
    }
    if (replacement)
        out.writer().write(*replacement);
    out.commit();
}

void SortCardFile(const QString &path) {
    files::DirectoryLock lock(files::directoryOf(path));
    files::File card = files::File::openExisting(path);
    const qint64 size = card.size();
    const qint64 n = size / RecSize;
    if (n < 2)
        return;
    const auto finish = [&](NewCardFile &out) {
        if (const qint64 tailLength = size - n * RecSize; tailLength > 0) {
            std::vector<unsigned char> tail(tailLength);
            card.readExactlyAt(tail.data(), tailLength, n * RecSize);
            out.writer().writeBytes(tail.data(), tailLength);
        }
        card.close();
        out.commit();
    };
    {
        // A last record that sorts before the one ahead of it was most likely just appended to
        // an ordered file: one pass puts it in its place.
        EntryRecord beforeLast;
        EntryRecord last;
        card.readExactlyAt(beforeLast.bytes.data(), RecSize, (n - 2) * RecSize);
        card.readExactlyAt(last.bytes.data(), RecSize, (n - 1) * RecSize);
        if (SortKey(beforeLast) > SortKey(last)) {
            NewCardFile out(path, card.mode());
            if (insertLastRecord(card, n, last, out.writer())) {
                finish(out);
                return;
            }
        }
    }
    const auto runs = NaturalRuns(card, n);
    if (runs && runs->size() == 1)
        return; // already in order: nothing to write
    NewCardFile out(path, card.mode());
    if (runs)
        MergeRuns(card, *runs, out.writer());
    else
        SortRecords<EntryRecord>(card, n, out.writer(), files::directoryOf(path));
    finish(out);
}

namespace {

// Writes the card file anew in one pass: every record except those of `dropped` (if given), with
// `entry` placed after every record whose key is not greater than its own, which is where a stable
// sort puts an entry added at the end. Returns false, changing nothing, when the records turn out
// not to be in order.
bool rewriteWithEntryInOrder(const QString &path, const std::optional<EntryKey> &dropped,
                             const EntryRecord &entry) {
    CardFileReader reader(path);
    NewCardFile out(path, reader.mode());
    InsertInOrder insert(entry, out.writer());
    while (const EntryRecord *record = reader.next()) {
        if (dropped && dropped->matches(*record))
            continue;
        if (!insert.add(*record))
            return false;
    }
    insert.finish();
    out.commit();
    return true;
}

// Writes the card file anew, sorted, from the first `n` records of `card` without those of
// `dropped` (if given) and with `entry` added: the outcome of changing the records in place and
// sorting them, for a card file that is not in order, with one rename at the end.
void rewriteSorted(const QString &path, const files::File &card, qint64 n,
                   const std::optional<EntryKey> &dropped, const EntryRecord &entry) {
    files::File changed = ScratchFile(files::directoryOf(path));
    qint64 count = 0;
    {
        RecordWriter writer(changed);
        RangeReader reader(card, {0, n});
        EntryRecord record;
        while (reader.next(record)) {
            if (!dropped || !dropped->matches(record)) {
                writer.write(record);
                ++count;
            }
        }
        writer.write(entry);
        writer.flush();
    }
    NewCardFile out(path, card.mode());
    if (const auto runs = NaturalRuns(changed, ++count))
        MergeRuns(changed, *runs, out.writer());
    else
        SortRecords<EntryRecord>(changed, count, out.writer(), files::directoryOf(path));
    out.commit();
}

} // namespace

void AddEntry(const QString &cardFile, const EntryRecord &entry) {
    files::DirectoryLock lock(files::directoryOf(cardFile));
    const files::File card = files::File::openExisting(cardFile);
    const qint64 size = card.size();
    if (size % RecSize == 0 && rewriteWithEntryInOrder(cardFile, std::nullopt, entry))
        return;
    // A partial record at the end (which appending writes over), or a card file out of order.
    rewriteSorted(cardFile, card, size / RecSize, std::nullopt, entry);
}

namespace {

// ReplaceEntry's work, with the directory's lock held by the caller.
void replaceLocked(const QString &cardFile, const EntryRecord &dropped,
                   const EntryRecord &replacement) {
    if (rewriteWithEntryInOrder(cardFile, EntryKey(dropped), replacement))
        return;
    // The card file was not in order (written by other means).
    const files::File card = files::File::openExisting(cardFile);
    const qint64 size = card.size();
    if (size % RecSize != 0) // rewriting fails on a partial record, as the reader does
        throw EInOutError(ioerror::ReadBeyondEnd);
    rewriteSorted(cardFile, card, size / RecSize, EntryKey(dropped), replacement);
}

bool holdsEntry(const QString &cardFile, const EntryKey &key) {
    CardFileReader reader(cardFile);
    while (const EntryRecord *record = reader.next()) {
        if (key.matches(*record))
            return true;
    }
    return false;
}

} // namespace

void ReplaceEntry(const QString &cardFile, const EntryRecord &dropped,
                  const EntryRecord &replacement) {
    files::DirectoryLock lock(files::directoryOf(cardFile));
    replaceLocked(cardFile, dropped, replacement);
}

bool ReplaceListedEntry(const QString &cardFile, const EntryRecord &dropped,
                        const EntryRecord &replacement) {
    files::DirectoryLock lock(files::directoryOf(cardFile));
    if (!holdsEntry(cardFile, EntryKey(dropped)))
        return false;
    replaceLocked(cardFile, dropped, replacement);
    return true;
}

// The operations on the current card file and the program-wide buffers, as the windows use them.

void AppendEntry(const std::array<QByteArray, FieldCount> &texts) {
    RecordBuffer = EntryRecord::fromFields(texts);
    AppendEntry(CardFilePath(), RecordBuffer);
}

void RewriteCardFile(bool appendReplacement) {
    RewriteCardFile(CardFilePath(), DroppedEntry, appendReplacement ? &ReplacementEntry : nullptr);
}

void SortCardFile() {
    SortCardFile(CardFilePath());
}

void AddEntry(const std::array<QByteArray, FieldCount> &texts) {
    RecordBuffer = EntryRecord::fromFields(texts);
    AddEntry(CardFilePath(), RecordBuffer);
}

void ReplaceEntry() {
    ReplaceEntry(CardFilePath(), DroppedEntry, ReplacementEntry);
}

bool ReplaceListedEntry() {
    return ReplaceListedEntry(CardFilePath(), DroppedEntry, ReplacementEntry);
}

} // namespace meridoc
