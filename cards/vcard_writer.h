#pragma once

#include "export_entry.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>

// vCard output (RFC 2426 for 3.0, RFC 6350 for 4.0) as pure functions over bytes.
namespace meridoc::cards {

enum class VCardVersion { V3, V4 };

// What one vCard is made of, as views valid while it is written: the raw fields, the UID text
// and the extra text already escaped by EscapeText (empty when there is none).
struct VCardSource {
    FieldViews fields;
    QByteArrayView uid;
    QByteArrayView escapedExtraText;
};

// One vCard for the entry, UTF-8, CRLF line ends, lines folded at 75 octets, text values
// escaped (backslash, comma, semicolon, line breaks): N, FN, a TEL per phone, NOTE
// (ExportNote), and the entry's UID.
QByteArray WriteVCard(const ExportEntry &entry, VCardVersion version);

// The same straight into a buffer: at most VCardSizeBound(source) bytes are written from `out`
// on; returns the end of the vCard.
std::size_t VCardSizeBound(const VCardSource &source);
char *WriteVCardInto(char *out, const VCardSource &source, VCardVersion version);

// UTF-8 text as a vCard text value: backslash, comma and semicolon get a backslash, a line
// break (CRLF, CR or LF) becomes "\n".
QByteArray EscapeText(QByteArrayView utf8);

// Folds one content line (without its line end) into lines of at most 75 octets, each
// continuation line starting with a blank, never splitting a UTF-8 sequence. Adds CRLF.
QByteArray FoldLine(const QByteArray &line);

} // namespace meridoc::cards
