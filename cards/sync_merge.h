#pragma once

#include "contact.h"
#include "entry_contact.h"

#include "data/entryrecord.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// What the card file holds of a contact, seen the same way from either side of a sync, and the
// three-way merge of two such views against the one both sides agreed on last.
namespace meridoc::cards {

// A contact as an entry and its extra-text lines: the five fields (Windows-1252, trimmed) and the
// lines the mapping gives its extra text, headed by its full name when there are any.
struct Projection {
    std::array<QByteArray, FieldCount> fields;
    QStringList lines;
    // Lines compare as a set: their order in an extra text is the writer's choice.
    bool operator==(const Projection &other) const;
};

// What importing the contact would give (control characters in fields as blanks).
Projection ProjectionOfContact(const Contact &contact);
// What the card file holds of an entry with its fields as stored and its extra text's plain text
// (of several people's lines there, those of the entry `id`: see ContactOfEntry).
Projection ProjectionOfEntry(const std::array<QByteArray, FieldCount> &fields,
                             const QString &extraText, const QString &id = {},
                             const EntryIdTaken &taken = {});
// A hash of the projection, the same for equal projections (16 hex digits).
QByteArray ProjectionHash(const Projection &projection);

// The heading among a contact's lines, empty when there is none.
QString HeadingOf(const QStringList &lines);

// What the card file takes from the first vCard of `bytes`; nothing when it holds none.
std::optional<Projection> ProjectionOfVCard(QByteArrayView bytes);

// The lines of `lines` that are not in `other`, each occurrence counted.
QStringList LinesWithout(const QStringList &lines, QStringList other);

struct MergeOutcome {
    Projection result;
    QStringList conflicts; // one remark per field both sides changed to different values
};

// Merges two views of one contact against `base`, the view both held after the last sync (null
// when there is none: every field in which they differ counts as changed on both sides).
// A field changed on one side takes that side's value; changed on both to different values, it
// keeps `mine` (the card file's), and the other value stays too: a phone as a further phone, and
// for every field a line "Sync conflict DATE: ..." in the extra text. Lines are merged as a set:
// what either side added is added, what either side removed is removed.
MergeOutcome MergeProjections(const Projection *base, const Projection &mine,
                              const Projection &theirs, QDate today);

} // namespace meridoc::cards
