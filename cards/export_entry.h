#pragma once

#include "data/entryrecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>

// An entry as the exporters write it: the five fields as stored in the card file and the plain
// text of the person's extra text.
namespace meridoc::cards {

struct ExportEntry {
    std::array<QByteArray, FieldCount> fields; // Windows-1252 bytes, untrimmed
    QString extraText;                         // plain text, lines separated by '\n'; may be empty
    QString uid;                               // EntryUid(fields), when already known

    QString text(Field f) const; // the field decoded and trimmed
};

// The five fields of an entry as views of their Windows-1252 bytes, untrimmed.
using FieldViews = std::array<QByteArrayView, FieldCount>;
// The record's fields in place (a length byte above the field's maximum reads as the maximum).
FieldViews FieldsOf(const EntryRecord &record);

// The bytes without leading and trailing codes 0 to 32, as text::trimmed cuts them.
QByteArrayView TrimmedBytes(QByteArrayView bytes);

// A UUID in its 36-character text form ("xxxxxxxx-xxxx-5xxx-...", lower case).
using UidText = std::array<char, 36>;

// The entry's UID: a name-based UUID (version 5, SHA-1) over the five field byte strings, each
// preceded by its length byte, in this tool's namespace. Entries that are the same entry for the
// card file (all five fields equal) share it; any other difference gives another UID.
QString EntryUid(const std::array<QByteArray, FieldCount> &fields);
// The same without allocating, for the export's loop.
UidText EntryUidText(const FieldViews &fields);
UidText EntryUidText(const EntryRecord &record);

// The note of an export: the trimmed COMMENTS, then, after a line break, the extra text. Empty
// when both are empty.
QString ExportNote(const ExportEntry &entry);

} // namespace meridoc::cards
