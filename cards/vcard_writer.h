#pragma once

#include "contact.h"
#include "export_entry.h"

#include <QByteArray>
#include <QByteArrayView>

// vCard output (RFC 2426 for 3.0, RFC 6350 for 4.0).
namespace meridoc::cards {

enum class VCardVersion { V3, V4 };

// Appends one vCard for the contact: UTF-8, CRLF line ends, lines folded at 75 octets, text
// values escaped. N, FN, a company's kind (KIND:org, or X-ABShowAs:COMPANY in 3.0), a TEL per
// phone with its types (VOICE when it has none), then a property per detail that has one
// (EMAIL, ADR, BDAY, ANNIVERSARY, ORG, TITLE, ROLE, URL, NICKNAME, CATEGORIES), NOTE, and the
// UID. A comment given apart from a note (Contact::comments) that is empty while the note is
// not is marked by an empty X-MERIDOC-COMMENTS, so that reading the card back keeps the comment
// empty.
void AppendVCard(QByteArray &out, const Contact &contact, QByteArrayView uid, VCardVersion version);

// The same as AppendVCard(out, ContactOfEntry(fields, {}), uid, version) for an entry without
// an extra text, straight from the Windows-1252 bytes. Kept for speed: exporting 100,000 such
// entries to a file takes 2.7 times as long as writing and syncing the same 20.8 MB (165 ms
// against 61 ms); through ContactOfEntry and AppendVCard it took 1.8 times as long as this way.
void AppendEntryVCard(QByteArray &out, const FieldViews &fields, QByteArrayView uid,
                      VCardVersion version);

// UTF-8 text as a vCard text value: backslash, comma and semicolon get a backslash, a line
// break (CRLF, CR or LF) becomes "\n".
QByteArray EscapeText(QByteArrayView utf8);

// Folds one content line (without its line end) into lines of at most 75 octets, each
// continuation line starting with a blank, never splitting a UTF-8 character (a run of bytes
// that starts none, in invalid UTF-8, is cut where the room ends). Adds CRLF.
QByteArray FoldLine(const QByteArray &line);

} // namespace meridoc::cards
