#include "entryrecord.h"

#include <algorithm>
#include <cstring>

namespace meridoc {
namespace {

int storedLength(const EntryRecord &r, Field f) {
    return std::min<int>(r.bytes[EntryRecord::offset(f)], EntryRecord::maxLength(f));
}

const char *characters(const EntryRecord &r, Field f) {
    return reinterpret_cast<const char *>(r.bytes.data() + EntryRecord::offset(f) + 1);
}

unsigned char upper(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

} // namespace

QByteArray EntryRecord::field(Field f) const {
    return QByteArray(characters(*this, f), storedLength(*this, f));
}

void EntryRecord::setField(Field f, const QByteArray &value) {
    const int length = std::min<int>(value.size(), maxLength(f));
    bytes[offset(f)] = static_cast<unsigned char>(length);
    std::memcpy(bytes.data() + offset(f) + 1, value.constData(), length);
    // Whatever the buffer held after the characters (another person's text, say) must not
    // travel into a card file.
    std::memset(bytes.data() + offset(f) + 1 + length, 0, maxLength(f) - length);
}

EntryRecord EntryRecord::fromFields(const std::array<QByteArray, FieldCount> &fields) {
    EntryRecord r;
    for (int i = 0; i < FieldCount; ++i)
        r.setField(static_cast<Field>(i), fields[i]);
    return r;
}

std::array<QByteArray, FieldCount> EntryRecord::fields() const {
    std::array<QByteArray, FieldCount> out;
    for (int i = 0; i < FieldCount; ++i)
        out[i] = field(static_cast<Field>(i));
    return out;
}

SortKey::SortKey(const EntryRecord &record) {
    // Both fields are copied whole (20 bytes each, a size the compiler copies inline), the name
    // over the surname's unused bytes; then all 40 bytes are upper-cased in one fixed-length
    // loop that becomes a few vector instructions. Bytes past `length` take no part in
    // comparisons.
    static_assert(EntryRecord::maxLength(Field::SURNAME) + EntryRecord::maxLength(Field::NAME) ==
                  std::tuple_size_v<decltype(bytes)>);
    const int surname = storedLength(record, Field::SURNAME);
    std::memcpy(bytes.data(), characters(record, Field::SURNAME), 20);
    std::memcpy(bytes.data() + surname, characters(record, Field::NAME), 20);
    for (unsigned char &c : bytes)
        c = upper(c);
    length = surname + storedLength(record, Field::NAME);
}

QByteArray SortKey::toByteArray() const {
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), length);
}

std::strong_ordering SortKey::operator<=>(const SortKey &other) const {
    const int common = std::min(length, other.length);
    const int c = std::memcmp(bytes.data(), other.bytes.data(), common);
    if (c != 0)
        return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    return length <=> other.length;
}

bool EntryKey::matches(const EntryRecord &other) const {
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = static_cast<Field>(i);
        const int n = storedLength(other, f);
        if (storedLength(record, f) != n ||
            std::memcmp(characters(record, f), characters(other, f), std::size_t(n)) != 0)
            return false;
    }
    return true;
}

} // namespace meridoc
