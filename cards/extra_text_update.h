#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

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
// the next such line. People of one full name each have lines of their own: the group is the
// `occurrence`-th (from 0) of the import to name its contact so, and goes to the lines after the
// `occurrence`-th such line of the text. Lines the text holds (`held`: every line, trimmed) are not
// added again, and the heading is not repeated. With `replaceLabelled` (an import with --update)
// the group's labelled lines ("E-mail (work): ...") take the place of the contact's lines of the
// same labels
// ("E-mail"); only then is the text rewritten. Other lines are handed back in `atEnd` to be
// appended to the file's bytes when the contact's lines end the text and `endIsOpen` (nothing
// waits to be appended after it). Otherwise, and when no line names the contact, `found` is
// false and nothing is done: the group is appended whole.
SectionMerge MergeIntoSection(QTextDocument &doc, const QStringList &group,
                              const QSet<QString> &held, bool replaceLabelled, bool endIsOpen,
                              int occurrence = 0);

} // namespace meridoc::cards

namespace meridoc::cards {

// Changes a contact's lines in `doc`: those after the line naming it in full (`heading`) up to
// the next such line, and the lines before the first such line, which are every contact's. Each
// of `removed` goes once, found by its trimmed text (the heading too, when it is among them);
// `added` follow the contact's last line, or end the text after `heading` when no line names the
// contact yet. Returns whether anything changed and whether all of it was appended at the end.
// Whether the RTF holds what the document model leaves out (pictures, objects, fields such as
// links, drawings): such a text is only ever appended to, never written anew.
bool HoldsMoreThanText(const QByteArray &rtf);

struct SectionEdit {
    bool changed = false;
    bool onlyAppended = true;
};
SectionEdit EditSection(QTextDocument &doc, const QString &heading, const QStringList &removed,
                        const QStringList &added);

} // namespace meridoc::cards
