#include "cardfile.h"

#include "appstate.h"
#include "errors.h"
#include "recordfile.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <optional>
#include <unistd.h>

namespace meridoc {
namespace {

constexpr qint64 RecSize = EntryRecord::Size;
constexpr qint64 SortChunkRecords = 32768; // records sorted in memory at once (about 4.4 MB)
constexpr std::size_t MaxFanIn = 16;       // runs merged in one pass

using Range = RecordRange;
using RangeReader = RecordReader<EntryRecord>;

// Merges sorted runs of `source` into `out`. Among equal keys the earlier run goes first, so a
// merge of consecutive runs is stable.
template <typename Item>
void mergeRuns(const files::File &source, const std::vector<Range> &runs, RecordWriter &out) {
    std::vector<std::unique_ptr<RecordReader<Item>>> readers;
    std::vector<Item> heads(runs.size());
    std::vector<std::optional<SortKey>> keys(runs.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        readers.push_back(std::make_unique<RecordReader<Item>>(source, runs[i]));
        if (readers[i]->next(heads[i]))
            keys[i].emplace(sortKeyOf(heads[i]));
    }
    for (;;) {
        std::optional<std::size_t> best;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            if (keys[i] && (!best || *keys[i] < *keys[*best]))
                best = i;
        }
        if (!best)
            return;
        out.write(heads[*best]);
        if (readers[*best]->next(heads[*best]))
            keys[*best].emplace(sortKeyOf(heads[*best]));
        else
            keys[*best].reset();
    }
}

// The maximal non-decreasing runs of the first n records, or nothing once there are more than
// MaxFanIn of them (the file is then sorted in chunks instead).
std::optional<std::vector<Range>> naturalRuns(const files::File &file, qint64 n) {
    std::vector<Range> runs{{0, 0}};
    RangeReader reader(file, {0, n});
    EntryRecord record;
    std::optional<SortKey> previous;
    for (qint64 i = 0; reader.next(record); ++i) {
        SortKey key(record);
        if (previous && *previous > key) {
            runs.back().end = i;
            if (runs.size() == MaxFanIn)
                return std::nullopt;
            runs.push_back({i, i});
        }
        previous = key;
    }
    runs.back().end = n;
    return runs;
}

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

// Sorts n records of `source` into `out` with bounded memory: chunks sorted in memory become
// runs in a scratch file, merged MaxFanIn at a time until one pass into `out` finishes the job.
template <typename Item> void externalSort(const files::File &source, qint64 n, RecordWriter &out) {
    files::File runsFile = ScratchFile();
    std::vector<Range> runs;
    {
        RecordWriter writer(runsFile);
        std::vector<Item> chunk;
        std::vector<std::size_t> order;
        for (qint64 first = 0; first < n; first += SortChunkRecords) {
            const Range range{first, std::min(n, first + SortChunkRecords)};
            chunk.resize(range.end - range.first);
            RecordReader<Item> reader(source, range);
            for (Item &r : chunk)
                reader.next(r);
            std::vector<SortKey> keys;
            keys.reserve(chunk.size());
            for (const Item &r : chunk)
                keys.push_back(sortKeyOf(r));
            order.resize(chunk.size());
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
            for (std::size_t i : order)
                writer.write(chunk[i]);
            runs.push_back(range);
        }
        writer.flush();
    }
    while (runs.size() > MaxFanIn) {
        files::File next = ScratchFile();
        RecordWriter writer(next);
        std::vector<Range> merged;
        for (std::size_t i = 0; i < runs.size(); i += MaxFanIn) {
            const std::vector<Range> group(runs.begin() + i,
                                           runs.begin() + std::min(runs.size(), i + MaxFanIn));
            mergeRuns<Item>(runsFile, group, writer);
            merged.push_back({group.front().first, group.back().end});
        }
        writer.flush();
        runsFile = std::move(next);
        runs = std::move(merged);
    }
    mergeRuns<Item>(runsFile, runs, out);
}

} // namespace

files::File ScratchFile() {
    // Unnamed where the file system allows it, otherwise named only until it is open.
    const auto create = [](const QByteArray &dir) {
        int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0) {
            QByteArray pattern = dir + ".meridoc-sort-XXXXXX";
            fd = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd >= 0)
                ::unlink(pattern.constData());
        }
        return fd;
    };
    int fd = create(QFile::encodeName(AppState.ProgramDir));
    if (fd < 0) {
        // A program directory that takes no new file (read-only, say) still lets a run that
        // writes nothing there work.
        const int err = errno;
        fd = create(QFile::encodeName(QDir::tempPath() + '/'));
        if (fd < 0)
            EInOutError::raiseFromErrno(err);
    }
    return files::File::adopt(fd);
}

template <typename Item> void SortRecords(const files::File &source, qint64 n, RecordWriter &out) {
    externalSort<Item>(source, n, out);
}
template void SortRecords<EntryRecord>(const files::File &, qint64, RecordWriter &);
template void SortRecords<NumberedRecord>(const files::File &, qint64, RecordWriter &);

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

void AppendEntry(const std::array<QByteArray, FieldCount> &texts) {
    for (int i = 0; i < FieldCount; ++i)
        RecordBuffer.setField(static_cast<Field>(i), texts[i]);
    files::DirectoryLock lock(AppState.ProgramDir);
    files::File card = files::File::openExisting(CardFilePath());
    card.writeAt(RecordBuffer.bytes.data(), RecSize, card.size() / RecSize * RecSize);
    card.sync();
    card.close();
}

void RewriteCardFile(bool appendReplacement) {
    files::DirectoryLock lock(AppState.ProgramDir);
    const QString path = CardFilePath();
    CardFileReader reader(path);
    const EntryKey dropped(DroppedEntry);
    NewCardFile out(path, reader.mode());
    while (const EntryRecord *record = reader.next()) {
        if (!dropped.matches(*record))
            out.writer().write(*record);
    }
    if (appendReplacement)
        out.writer().write(ReplacementEntry);
    out.commit();
}

void SortCardFile() {
    files::DirectoryLock lock(AppState.ProgramDir);
    const QString path = CardFilePath();
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
    const auto runs = naturalRuns(card, n);
    if (runs && runs->size() == 1)
        return; // already in order: nothing to write
    NewCardFile out(path, card.mode());
    if (runs)
        mergeRuns<EntryRecord>(card, *runs, out.writer());
    else
        externalSort<EntryRecord>(card, n, out.writer());
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
    files::File changed = ScratchFile();
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
    if (const auto runs = naturalRuns(changed, ++count))
        mergeRuns<EntryRecord>(changed, *runs, out.writer());
    else
        externalSort<EntryRecord>(changed, count, out.writer());
    out.commit();
}

} // namespace

void AddEntry(const std::array<QByteArray, FieldCount> &texts) {
    files::DirectoryLock lock(AppState.ProgramDir);
    const QString path = CardFilePath();
    for (int i = 0; i < FieldCount; ++i)
        RecordBuffer.setField(static_cast<Field>(i), texts[i]);
    const files::File card = files::File::openExisting(path);
    const qint64 size = card.size();
    if (size % RecSize == 0 && rewriteWithEntryInOrder(path, std::nullopt, RecordBuffer))
        return;
    // A partial record at the end (which appending writes over), or a card file out of order.
    rewriteSorted(path, card, size / RecSize, std::nullopt, RecordBuffer);
}

void ReplaceEntry() {
    files::DirectoryLock lock(AppState.ProgramDir);
    const QString path = CardFilePath();
    if (rewriteWithEntryInOrder(path, EntryKey(DroppedEntry), ReplacementEntry))
        return;
    // The card file was not in order (written by other means).
    const files::File card = files::File::openExisting(path);
    const qint64 size = card.size();
    if (size % RecSize != 0) // rewriting fails on a partial record, as the reader does
        throw EInOutError(ioerror::ReadBeyondEnd);
    rewriteSorted(path, card, size / RecSize, EntryKey(DroppedEntry), ReplacementEntry);
}

} // namespace meridoc
