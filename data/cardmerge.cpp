#include "cardmerge.h"

#include "appstate.h"
#include "cardfile.h"
#include "errors.h"
#include "files.h"

#include <QFile>

#include <algorithm>
#include <numeric>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc {

// "temp.tmp" being filled, a buffer of records at a time; removed unless committed.
class CardMerge::Output {
public:
    explicit Output(mode_t mode) : path_(TempFilePath()), mode_(mode) { restart(); }
    ~Output() {
        if (!committed_)
            ::unlink(QFile::encodeName(path_).constData());
    }

    void restart() {
        file_ = files::File::create(path_, mode_);
        buffer_.clear();
        offset_ = 0;
    }
    void write(const EntryRecord &record) {
        buffer_.insert(buffer_.end(), record.bytes.begin(), record.bytes.end());
        if (buffer_.size() >= BufferBytes)
            flush();
    }
    void commit(const QString &target) {
        flush();
        file_.sync();
        file_.close();
        files::replaceFile(path_, target);
        committed_ = true;
    }

private:
    static constexpr std::size_t BufferBytes = 512 * EntryRecord::Size;

    void flush() {
        file_.writeAt(buffer_.data(), qint64(buffer_.size()), offset_);
        offset_ += qint64(buffer_.size());
        buffer_.clear();
    }

    QString path_;
    mode_t mode_;
    files::File file_;
    std::vector<unsigned char> buffer_;
    qint64 offset_ = 0;
    bool committed_ = false;
};

namespace {

// The indices of the records in the order of a stable sort by SortKey.
std::vector<std::size_t> sortedOrder(std::span<const EntryRecord> records) {
    const std::vector<SortKey> keys(records.begin(), records.end());
    std::vector<std::size_t> order(records.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    return order;
}

// The records of the current card file in file order, whole records only.
using NextExisting = std::function<const EntryRecord *()>;

// One merge pass: every existing record, and every batch record in `order` placed after all
// records whose key is not greater than its own; a batch record equal to a record placed before
// it with the same key is skipped. Returns false as soon as the existing records turn out not to
// be in order.
bool mergePass(const NextExisting &nextExisting, std::span<const EntryRecord> batch,
               const std::vector<std::size_t> &order, std::vector<bool> &skipped,
               const std::function<void(const EntryRecord &)> &deliver,
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
    std::size_t next = 0;
    const auto placeBatchBelow = [&](const SortKey *limit) {
        for (; next < order.size(); ++next) {
            const EntryRecord &record = batch[order[next]];
            const SortKey key(record);
            if (limit && !(key < *limit))
                return;
            const bool again = groupKey && *groupKey == key &&
                               std::any_of(group.begin(), group.end(),
                                           [&](const EntryKey &k) { return k.matches(record); });
            skipped[order[next]] = again;
            if (!again)
                place(record, key);
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

} // namespace

CardMerge::CardMerge(std::span<const EntryRecord> batch, bool write, const Progress &progress)
    : path_(CardFilePath()), skipped_(batch.size(), false) {
    const std::vector<std::size_t> order = sortedOrder(batch);

    const QByteArray encodedPath = QFile::encodeName(path_);
    struct stat st {};
    const bool exists = ::stat(encodedPath.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
    std::optional<CardFileReader> reader;
    if (exists)
        reader.emplace(path_); // refuses a read-only card file like every other change
    const qint64 existing = reader ? reader->recordCount() : 0;

    if (write)
        output_ = std::make_unique<Output>(reader ? reader->mode() : mode_t(0644));
    const auto deliver = [&](const EntryRecord &record) {
        if (output_)
            output_->write(record);
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
    if (!mergePass(fromFile, batch, order, skipped_, deliver, counted)) {
        // Written by other means and out of order: sort the records first, stably.
        std::vector<EntryRecord> records;
        records.reserve(std::size_t(existing));
        CardFileReader again(path_);
        for (qint64 i = 0; i < existing; ++i)
            records.push_back(*again.next());
        const std::vector<std::size_t> sorted = sortedOrder(records);
        std::size_t at = 0;
        const NextExisting fromMemory = [&]() -> const EntryRecord * {
            return at < sorted.size() ? &records[sorted[at++]] : nullptr;
        };
        if (output_)
            output_->restart();
        qint64 replayed = 0; // the records the first pass reported are not reported twice
        mergePass(fromMemory, batch, order, skipped_, deliver, [&] {
            if (++replayed > reported && progress)
                progress();
        });
    }
    skippedCount_ = std::count(skipped_.begin(), skipped_.end(), true);
    needed_ = !exists || skippedCount_ < qint64(batch.size());
}

CardMerge::~CardMerge() = default;

void CardMerge::commit() {
    if (needed_ && output_)
        output_->commit(path_);
}

} // namespace meridoc
