#pragma once

#include "export_entry.h"

#include <QByteArray>
#include <QString>

#include <string>

// vCard output (RFC 2426 for 3.0, RFC 6350 for 4.0) as pure functions over bytes.
namespace meridoc::cards {

enum class VCardVersion { V3, V4 };

// One vCard for the entry, UTF-8, CRLF line ends, lines folded at 75 octets, text values
// escaped (backslash, comma, semicolon, line breaks): N, FN, a TEL per phone, NOTE
// (ExportNote), and the entry's UID.
QByteArray WriteVCard(const ExportEntry &entry, VCardVersion version);
// The same, appended to `out`.
void AppendVCard(std::string &out, const ExportEntry &entry, VCardVersion version);

// Folds one content line (without its line end) into lines of at most 75 octets, each
// continuation line starting with a blank, never splitting a UTF-8 sequence. Adds CRLF.
QByteArray FoldLine(const QByteArray &line);

} // namespace meridoc::cards
