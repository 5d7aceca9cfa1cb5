#pragma once

#include "data/entryrecord.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>

class QTextDocument;

namespace meridoc::cards {

// What merging a contact's lines into the lines the extra text already has of that contact did.
struct SectionMerge {
    bool found = false;     // the text has the contact's lines: nothing to append as a new group
    bool rewritten = false; // lines were removed or put inside the text: write it anew
    QStringList atEnd;      // lines to append at the end of the text, where the contact's end
};

// The line naming a group's contact in full (its first line, trimmed), empty when it has none.
QString GroupHeading(const QStringList &group);

// Merges the group of lines an import gives a contact into that contact's lines of the extra text
// `doc`: those after the line naming it in full ("Full name: ...", the group's first line), up to
// the next such line. A group that carries its entry's identity ("Entry ID: ...", the line after
// its heading) goes to the lines that carry the same, never to lines that carry another's. Lines
// of people of one full name that carry none each are one person's: the group is the
// `occurrence`-th (from 0) of the import to name its contact so, and goes to the lines after the
// `occurrence`-th such line of the text, which then carry its identity when written anew. Lines the
// text holds (`held`: every line, trimmed) are not added again, and the heading is not repeated.
// With `replaceLabelled` (an import with --update) the group's labelled lines ("E-mail (work):
// ...") take the place of the contact's lines of the same labels
// ("E-mail"); only then is the text rewritten. Other lines are handed back in `atEnd` to be
// appended to the file's bytes when the contact's lines end the text and `endIsOpen` (nothing
// waits to be appended after it). Otherwise, and when no line names the contact, `found` is
// false and nothing is done: the group is appended whole.
SectionMerge MergeIntoSection(QTextDocument &doc, const QStringList &group,
                              const QSet<QString> &held, bool replaceLabelled, bool endIsOpen,
                              int occurrence = 0);

} // namespace meridoc::cards

namespace meridoc::cards {

// Whether the RTF holds what the document model leaves out (pictures, objects, fields such as
// links, drawings): such a text is only ever appended to, never written anew.
bool HoldsMoreThanText(const QByteArray &rtf);

// Whose lines an edit changes: the entry of `fields`, its lines found as OwnSection finds them
// by `id`; `newId` is the identity they carry afterwards (the entry's fields may change), and
// `heading` heads them when the text has none of them yet.
struct SectionOwner {
    std::array<QByteArray, FieldCount> fields;
    QString id, newId, heading;
};

// Changes the contact's lines in `doc`: its own, and the lines before the first heading, which are
// every contact's. Each of `removed` goes once, found by its trimmed text; a new full name among
// `added` takes the place of the old one when that is among `removed`; the other `added` follow
// the contact's last line, or end the text, headed, when no lines are the contact's yet. Its
// heading is followed by its identity. Nothing is changed when several contacts' lines may be the
// entry's. Returns whether anything changed and whether all of it was appended at the end.
struct SectionEdit {
    bool changed = false;
    bool onlyAppended = true;
    bool ambiguous = false;
};
SectionEdit EditSection(QTextDocument &doc, const SectionOwner &owner, const QStringList &removed,
                        const QStringList &added);

} // namespace meridoc::cards
