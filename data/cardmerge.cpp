#include "cardmerge.h"

#include "cardfile.h"
#include "errors.h"
#include "recordfile.h"

#include <QFile>

#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace meridoc {
namespace {

// The records of the current card file in order, whole records only.
using NextExisting = std::function<const EntryRecord *()>;

// One merge pass: every existing record, and every record of the sorted batch placed after all
// records whose key is not greater than its own; a batch record equal to a record placed before
// it with the same key is skipped. Returns false as soon as the existing records turn out not to
// be in order.
bool mergePass(const NextExisting &nextExisting, const files::File &sortedBatch, qint64 count,
               std::vector<bool> &skipped, const std::function<void(const EntryRecord &)> &deliver,
               const CardMerge::Progress &progress) {
    std::optional<SortKey> groupKey;
    std::vector<EntryKey> group; // the records placed so far with key groupKey
    const auto place = [&](const EntryRecord &record, const SortKey &key) {
        if (!groupKey || *groupKey != key) {
            groupKey = key;
            group.clear();
        }
        group.emplace_back(record);
        deliver(record);
    };
    RecordReader<NumberedRecord> batch(sortedBatch, {0, count});
    NumberedRecord head;
    bool more = batch.next(head);
    const auto placeBatchBelow = [&](const SortKey *limit) {
        for (; more; more = batch.next(head)) {
            const SortKey key(head.record);
            if (limit && !(key < *limit))
                return;
            const bool again = groupKey && *groupKey == key &&
                               std::any_of(group.begin(), group.end(), [&](const EntryKey &k) {
                                   return k.matches(head.record);
                               });
            skipped[std::size_t(head.number)] = again;
            if (!again)
                place(head.record, key);
            progress();
        }
    };
    std::optional<SortKey> previous;
    while (const EntryRecord *record = nextExisting()) {
        const SortKey key(*record);
        if (previous && key < *previous)
            return false;
        previous = key;
        placeBatchBelow(&key);
        place(*record, key);
    }
    placeBatchBelow(nullptr);
    return true;
}

// The records of a batch held in memory, numbered, in a scratch file in `dir`.
files::File spooled(std::span<const EntryRecord> batch, const QString &dir) {
    files::File file = ScratchFile(dir);
    RecordWriter writer(file);
    for (std::size_t i = 0; i < batch.size(); ++i)
        writer.write(NumberedRecord{batch[i], qint64(i)});
    writer.flush();
    return file;
}

// The first `n` records of `source`, sorted, in a scratch file in `dir`.
template <typename Item>
files::File sortedCopy(const files::File &source, qint64 n, const QString &dir) {
    files::File sorted = ScratchFile(dir);
    RecordWriter writer(sorted);
    SortRecords<Item>(source, n, writer, dir);
    writer.flush();
    return sorted;
}

} // namespace

CardMerge::CardMerge(const QString &cardFile, std::span<const EntryRecord> batch, bool write,
                     const Progress &progress)
    : CardMerge(cardFile, spooled(batch, files::directoryOf(cardFile)), qint64(batch.size()), write,
                progress) {}

CardMerge::CardMerge(const QString &cardFile, const files::File &batch, qint64 count, bool write,
                     const Progress &progress, const Replaced &replaced)
    : path_(cardFile), skipped_(std::size_t(count), false) {
    const auto kept = [&](const NextExisting &next) -> NextExisting {
        if (!replaced)
            return next;
        return [next, &replaced, this]() -> const EntryRecord * {
            const EntryRecord *record = next();
            while (record && replaced(*record)) {
                ++replacedCount_;
                record = next();
            }
            return record;
        };
    };
    const QString dir = files::directoryOf(path_);
    const files::File sortedBatch = sortedCopy<NumberedRecord>(batch, count, dir);

    const QByteArray encodedPath = QFile::encodeName(path_);
    struct stat st {};
    const bool exists = ::stat(encodedPath.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
    std::optional<CardFileReader> reader;
    if (exists)
        reader.emplace(path_); // refuses a read-only card file like every other change
    const qint64 existing = reader ? reader->recordCount() : 0;
    const mode_t mode = reader ? reader->mode() : files::newFileMode(0644);

    if (write)
        output_ = std::make_unique<NewCardFile>(path_, mode);
    const auto deliver = [&](const EntryRecord &record) {
        if (output_)
            output_->writer().write(record);
    };

    qint64 delivered = 0;
    const NextExisting fromFile = [&]() -> const EntryRecord * {
        return delivered++ < existing ? reader->next() : nullptr;
    };
    qint64 reported = 0;
    const Progress counted = [&] {
        ++reported;
        if (progress)
            progress();
    };
    if (!mergePass(kept(fromFile), sortedBatch, count, skipped_, deliver, counted)) {
        // Written by other means and out of order: sort the records first, stably.
        const files::File sortedExisting =
            sortedCopy<EntryRecord>(files::File::openExisting(path_), existing, dir);
        RecordReader<EntryRecord> sortedReader(sortedExisting, {0, existing});
        EntryRecord current;
        const NextExisting fromSorted = [&]() -> const EntryRecord * {
            return sortedReader.next(current) ? &current : nullptr;
        };
        if (output_) {
            output_.reset(); // its "temp.tmp" goes before the new one is made
            output_ = std::make_unique<NewCardFile>(path_, mode);
        }
        qint64 replayed = 0; // the records the first pass reported are not reported twice
        replacedCount_ = 0;
        mergePass(kept(fromSorted), sortedBatch, count, skipped_, deliver, [&] {
            if (++replayed > reported && progress)
                progress();
        });
    }
    skippedCount_ = std::count(skipped_.begin(), skipped_.end(), true);
    needed_ = !exists || skippedCount_ < count || replacedCount_ > 0;
}

CardMerge::~CardMerge() = default;

QString CardMerge::stagedPath() const {
    return needed_ && output_ ? output_->stagedPath() : QString();
}

void CardMerge::commit() {
    if (needed_ && output_)
        output_->commit();
}

} // namespace meridoc
