#pragma once

#include "contact.h"
#include "export_entry.h"

#include <QString>

#include <functional>

// An entry and its extra text seen as a contact again: the other direction of mapContact, which
// the export (and anything else that hands entries to another address book) goes through.
namespace meridoc::cards {

// The labelled lines import wrote are read back into their places: "Full name" (the heading of a
// contact's lines), "Name" / "Surname" / "Note" where the record still holds what they give,
// "Middle name", "Name prefix", "Name suffix", "Phone 1 type" / "Phone 2 type", further phones
// and the details a vCard has a property for (e-mail, address, birthday, anniversary,
// organisation, title, role, web, nickname, groups). A text shared by several people (lines
// headed by their full names) gives each entry the lines headed by its own name, besides the
// lines before the first heading. Every other line is the rest of the note, after the comment.
// A company (no NAME, its organisation as the SURNAME) is marked as one.
// Of several contacts in one text, the entry's are those whose heading is followed by the line
// "Entry ID: " and `id`, by default the entry's own UID (EntryUid), which import and sync write
// there; a caller that knows the entry by an earlier state of its fields (a sync, after the
// entry was edited) passes the UID of those.
// `taken` tells the identities of other entries of the card file: lines carrying one of them are
// never the entry's, however its name matches.
using EntryIdTaken = std::function<bool(const QString &id)>;
Contact ContactOfEntry(const FieldViews &fields, const QString &extraText, const QString &id = {},
                       const EntryIdTaken &taken = {});

// The label of the line that follows a contact's heading with the identity of its entry.
inline const QLatin1String EntryIdLabel("Entry ID: ");
// EntryUid of the fields, as the line "Entry ID: " gives it.
QString EntryIdOf(const FieldViews &fields);
// Of the contacts' lines in an extra text (each list a heading and the lines after it, trimmed),
// the entry's: the ones that carry the entry's identity `id`; without such, the one that belongs
// to the entry by its name (the heading, or "Name" and "Surname" lines, giving what the record
// holds), or else the one such that carries no identity. Several are not told apart by guessing:
// -1, and `ambiguous` is set. -1 too when none belongs.
int OwnSection(const QList<QStringList> &sections, const FieldViews &fields, const QString &id,
               bool *ambiguous = nullptr, const EntryIdTaken &taken = {});
// Whether several contacts' lines in the text may be the entry's and none carries its identity:
// ContactOfEntry then gives it none of them, and nothing may be written into them for it.
bool LinesAreAmbiguous(const FieldViews &fields, const QString &extraText, const QString &id = {},
                       const EntryIdTaken &taken = {});

// Whether a detail's label names a property of its own ("E-mail (work)" does, "Town" does not).
bool HasProperty(const QString &label);

// The base of a labelled line's label ("E-mail" of "E-mail (work): ann@example.org"); empty for
// a line without a label.
QString LabelBase(const QString &line);

} // namespace meridoc::cards
