#pragma once

#include "data/entryrecord.h"

#include <QString>

#include <cstdint>
#include <random>
#include <vector>

namespace bench {

// Makes address-book entries that look like a real one: common given names and surnames of
// several origins in the case people type them, phone numbers in a few national styles and
// short comments, most of them empty. No two entries one generator makes are the same entry:
// PHONE1 carries a running number.
class EntryGenerator {
public:
    explicit EntryGenerator(std::uint64_t seed) : rng_(seed) {}

    meridoc::EntryRecord next();
    // A number in [0, bound).
    std::size_t below(std::size_t bound);

private:
    std::mt19937_64 rng_;
    std::uint64_t serial_ = 0;
};

// `n` new entries in card-file order (by SortKey, stable).
std::vector<meridoc::EntryRecord> sortedEntries(EntryGenerator &generator, int n);

// The same entry with its PHONE2 changed in a way that can be undone by calling this again, so
// a change can go back and forth between two versions.
meridoc::EntryRecord toggledPhone2(const meridoc::EntryRecord &entry);

// Writes the records as a card file at `path` and syncs it to disk.
void writeCardFile(const QString &path, const std::vector<meridoc::EntryRecord> &records);

} // namespace bench
