#pragma once

#include "data/entryrecord.h"

#include <cstdint>
#include <vector>

namespace meridoc::cards {

// The names (NAME and SURNAME, trimmed) an import brings and how many entries of the card file
// carry each, kept as 64-bit hashes in sorted arrays: 16 bytes a contact, where tables of the
// names and records took about 300 (600 MB for a million contacts).
class ImportedNames {
public:
    // Each imported contact's record, in input order.
    void add(const EntryRecord &record);
    // Done adding: the names are sorted, each keeping its first contact's record.
    void seal();
    // Counts a card-file entry when its name is one imported (after seal()).
    void countInCardFile(const EntryRecord &entry);
    // How many entries of the card file carry the name of `record` (0 when not imported).
    int entriesInCardFile(const EntryRecord &record) const;
    // Whether `record` is the first contact imported of its name.
    bool isFirstImported(const EntryRecord &record) const;

private:
    struct Name {
        std::uint64_t name;
        std::uint64_t record;
    };
    static std::uint64_t nameHash(const EntryRecord &record);
    static std::uint64_t recordHash(const EntryRecord &record);
    // The place of the name of `record`, or -1.
    qsizetype find(const EntryRecord &record) const;

    std::vector<Name> names_;
    std::vector<int> counts_; // beside names_, once sealed
    qint64 counted_ = 0;      // card-file entries that carry a name imported
};

} // namespace meridoc::cards
