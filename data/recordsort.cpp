#include "recordfile.h"

#include "errors.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <optional>
#include <unistd.h>

namespace meridoc {
namespace {

constexpr qint64 SortChunkRecords = 32768; // records sorted in memory at once (about 4.4 MB)
constexpr std::size_t MaxFanIn = 16;       // runs merged in one pass

using Range = RecordRange;

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

// Reads the records of `range` of `source` and writes them to `out` sorted, stably.
template <typename Item>
void sortChunk(const files::File &source, const Range &range, std::vector<Item> &chunk,
               RecordWriter &out) {
    chunk.resize(range.end - range.first);
    RecordReader<Item> reader(source, range);
    for (Item &r : chunk)
        reader.next(r);
    std::vector<SortKey> keys;
    keys.reserve(chunk.size());
    for (const Item &r : chunk)
        keys.push_back(sortKeyOf(r));
    std::vector<std::size_t> order(chunk.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    for (std::size_t i : order)
        out.write(chunk[i]);
}

// Sorts n records of `source` into `out` with bounded memory: chunks sorted in memory become
// runs in a scratch file, merged MaxFanIn at a time until one pass into `out` finishes the job.
template <typename Item>
void externalSort(const files::File &source, qint64 n, RecordWriter &out,
                  const QString &scratchDir) {
    std::vector<Item> chunk;
    if (n <= SortChunkRecords) { // one chunk: sorted in memory straight into `out`
        sortChunk<Item>(source, {0, n}, chunk, out);
        return;
    }
    files::File runsFile = ScratchFile(scratchDir);
    std::vector<Range> runs;
    {
        RecordWriter writer(runsFile);
        for (qint64 first = 0; first < n; first += SortChunkRecords) {
            const Range range{first, std::min(n, first + SortChunkRecords)};
            sortChunk<Item>(source, range, chunk, writer);
            runs.push_back(range);
        }
        writer.flush();
    }
    while (runs.size() > MaxFanIn) {
        files::File next = ScratchFile(scratchDir);
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

// The maximal non-decreasing runs of the first n records, or nothing once there are more than
// MaxFanIn of them (the file is then sorted in chunks instead).
std::optional<std::vector<RecordRange>> NaturalRuns(const files::File &file, qint64 n) {
    std::vector<RecordRange> runs{{0, 0}};
    RecordReader<EntryRecord> reader(file, {0, n});
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

void MergeRuns(const files::File &source, const std::vector<RecordRange> &runs, RecordWriter &out) {
    mergeRuns<EntryRecord>(source, runs, out);
}

files::File ScratchFile(const QString &dir) {
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
    int fd = create(QFile::encodeName(dir));
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

template <typename Item>
void SortRecords(const files::File &source, qint64 n, RecordWriter &out,
                 const QString &scratchDir) {
    externalSort<Item>(source, n, out, scratchDir);
}
template void SortRecords<EntryRecord>(const files::File &, qint64, RecordWriter &,
                                       const QString &);
template void SortRecords<NumberedRecord>(const files::File &, qint64, RecordWriter &,
                                          const QString &);

} // namespace meridoc
