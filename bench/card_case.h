#pragma once

#include "entries.h"

#include "data/entryrecord.h"

#include <QString>

#include <vector>

namespace bench {

// A sorted card file of n entries in the benchmark's program directory, and the operations the
// program runs on it. The file always holds n entries between two operations: what one
// operation adds or removes, its counterpart takes away or puts back.
class CardCase {
public:
    CardCase(const QString &programDir, int n);

    int n() const { return n_; }
    QString path() const { return path_; }
    // Points AppState at this card file.
    void makeCurrent() const;
    // Whether the file still holds exactly n records, as it must between two operations.
    bool holdsAllEntries() const;

    // An entry the file does not hold, whose place in the file is random.
    meridoc::EntryRecord freshEntry() { return generator_.next(); }
    // One of the entries the file holds, chosen at random.
    const meridoc::EntryRecord &randomEntry() {
        return records_[generator_.below(records_.size())];
    }

    // Adding an entry: AppendEntry, then SortCardFile.
    static void add(const meridoc::EntryRecord &entry);
    // Deleting an entry: RewriteCardFile without it.
    static void remove(const meridoc::EntryRecord &entry);
    // Changing an entry (DONE in the entry form): its PHONE2 goes back and forth between two
    // versions, one entry after another of a few picked at random, through ReplaceEntry.
    void change();
    // Reading the whole file record by record, as the search does; returns the record count.
    static long scan();

private:
    int n_;
    QString programDir_;
    QString baseName_;
    QString path_;
    EntryGenerator generator_;
    std::vector<meridoc::EntryRecord> records_;
    std::vector<std::size_t> changing_;
    std::size_t nextChange_ = 0;
};

// The limits the card-file operations are measured against: what the file system itself needs
// to write a file of the same size safely, and to read it.
// Copies `source` to a new file `target` through a user-space buffer and syncs the copy.
void copyWithSync(const QString &source, const QString &target);
// Reads `path` from start to end through a user-space buffer; returns the byte count.
long long readSequentially(const QString &path);

} // namespace bench
