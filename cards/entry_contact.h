#pragma once

#include "contact.h"
#include "export_entry.h"

#include <QString>

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
Contact ContactOfEntry(const FieldViews &fields, const QString &extraText);

// Whether a detail's label names a property of its own ("E-mail (work)" does, "Town" does not).
bool HasProperty(const QString &label);

// The base of a labelled line's label ("E-mail" of "E-mail (work): ann@example.org"); empty for
// a line without a label.
QString LabelBase(const QString &line);

} // namespace meridoc::cards
