#include "import_names.h"

#include "export_entry.h"

#include <QHashFunctions>

#include <algorithm>
#include <array>
#include <cstring>

namespace meridoc::cards {

// Two names share a hash once in 2^64 pairs: for a million names, once in tens of millions of
// imports.
std::uint64_t ImportedNames::nameHash(const EntryRecord &record) {
    // NAME and SURNAME trimmed and joined by a tab, put together on the stack: with strings made
    // for them, hashing names took a thirtieth of an import.
    const FieldViews fields = FieldsOf(record);
    const QByteArrayView name = TrimmedBytes(fields[int(Field::NAME)]);
    const QByteArrayView surname = TrimmedBytes(fields[int(Field::SURNAME)]);
    std::array<char, 2 * 20 + 1> key;
    std::memcpy(key.data(), name.data(), std::size_t(name.size()));
    key[std::size_t(name.size())] = '\t';
    std::memcpy(key.data() + name.size() + 1, surname.data(), std::size_t(surname.size()));
    return qHashBits(key.data(), std::size_t(name.size() + 1 + surname.size()), 0);
}

std::uint64_t ImportedNames::recordHash(const EntryRecord &record) {
    return qHashBits(record.bytes.data(), record.bytes.size(), 0);
}

void ImportedNames::add(const EntryRecord &record) {
    names_.push_back({nameHash(record), recordHash(record)});
}

void ImportedNames::seal() {
    std::stable_sort(names_.begin(), names_.end(),
                     [](const Name &a, const Name &b) { return a.name < b.name; });
    names_.erase(std::unique(names_.begin(), names_.end(),
                             [](const Name &a, const Name &b) { return a.name == b.name; }),
                 names_.end());
    names_.shrink_to_fit();
    counts_.assign(names_.size(), 0);
}

qsizetype ImportedNames::find(const EntryRecord &record) const {
    const std::uint64_t name = nameHash(record);
    const auto it = std::lower_bound(names_.begin(), names_.end(), name,
                                     [](const Name &n, std::uint64_t v) { return n.name < v; });
    return it != names_.end() && it->name == name ? it - names_.begin() : -1;
}

void ImportedNames::countInCardFile(const EntryRecord &entry) {
    if (const qsizetype at = find(entry); at >= 0) {
        ++counts_[std::size_t(at)];
        ++counted_;
    }
}

int ImportedNames::entriesInCardFile(const EntryRecord &record) const {
    if (counted_ == 0) // a new card file, or none of its names imported: nothing to look up
        return 0;
    const qsizetype at = find(record);
    return at >= 0 ? counts_[std::size_t(at)] : 0;
}

bool ImportedNames::isFirstImported(const EntryRecord &record) const {
    const qsizetype at = find(record);
    return at >= 0 && names_[std::size_t(at)].record == recordHash(record);
}

} // namespace meridoc::cards
