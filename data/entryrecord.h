#pragma once

#include <QByteArray>

#include <array>
#include <compare>

namespace meridoc {

// The five fields of an entry, in record order.
enum class Field { NAME, SURNAME, PHONE1, PHONE2, COMMENTS };
constexpr int FieldCount = 5;

// One entry as stored in a card file: five length-prefixed single-byte strings, 135 bytes, no
// gaps. Byte 0 of a field is its length L; bytes 1..L its characters; the bytes after them have no
// meaning: storing a field sets them to zero, and a record read from a file carries them
// untouched.
struct EntryRecord {
    static constexpr int Size = 135;

    std::array<unsigned char, Size> bytes{};

    static constexpr int offset(Field f) {
        constexpr std::array<int, FieldCount> offsets = {0, 21, 42, 63, 84};
        return offsets[static_cast<int>(f)];
    }
    static constexpr int maxLength(Field f) { return f == Field::COMMENTS ? 50 : 20; }

    // The field's characters. A length byte above the field's maximum is read as the maximum,
    // so a damaged record never reads past its own field.
    QByteArray field(Field f) const;
    // Stores the first maxLength(f) bytes of `value` and zeros in the bytes after them.
    void setField(Field f, const QByteArray &value);

    QByteArray NAME() const { return field(Field::NAME); }
    QByteArray SURNAME() const { return field(Field::SURNAME); }
    QByteArray PHONE1() const { return field(Field::PHONE1); }
    QByteArray PHONE2() const { return field(Field::PHONE2); }
    QByteArray COMMENTS() const { return field(Field::COMMENTS); }

    // A record holding the given five field texts (each cut to its maximum).
    static EntryRecord fromFields(const std::array<QByteArray, FieldCount> &fields);
    std::array<QByteArray, FieldCount> fields() const;

    bool operator==(const EntryRecord &) const = default;
};

// The order of card files: SURNAME followed by NAME, a-z upper-cased, compared bytewise as
// unsigned values, a shorter prefix first. Held in place so comparing costs no allocation.
struct SortKey {
    std::array<unsigned char, 40> bytes{};
    int length = 0;

    explicit SortKey(const EntryRecord &record);
    QByteArray toByteArray() const;
    std::strong_ordering operator<=>(const SortKey &other) const;
    bool operator==(const SortKey &other) const { return (*this <=> other) == 0; }
};

// The identity of an entry: its five fields, each compared exactly. Two records are the same
// entry only when all five fields are equal byte for byte (the bytes after the characters do
// not count).
// Held as the record itself: a merge keeps a key for every record it places, and with the fields
// copied out, making the keys took an eighth of it.
struct EntryKey {
    EntryRecord record;

    explicit EntryKey(const EntryRecord &r) : record(r) {}
    bool matches(const EntryRecord &other) const;
    bool operator==(const EntryKey &other) const { return matches(other.record); }
};

// The three program-wide record buffers the search/edit window's operations share.
inline EntryRecord RecordBuffer;
inline EntryRecord DroppedEntry;
inline EntryRecord ReplacementEntry;

} // namespace meridoc
