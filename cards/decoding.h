#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Byte-level helpers the contact readers share: byte-order marks, telling UTF-8 from
// Windows-1252, and decoding by a charset name.
namespace meridoc::cards::decoding {

enum class Bom { None, Utf8, Utf16LE, Utf16BE };

Bom detectBom(QByteArrayView bytes);
int bomLength(Bom bom);

// The whole input as text: by its byte-order mark, else UTF-8 when the bytes are valid UTF-8,
// else Windows-1252. The mark itself is not part of the text.
QString decodeInput(QByteArrayView bytes);

// Decodes bytes in the named charset (UTF-8, ISO-8859-1, windows-1252, or anything Qt's
// decoders know); nothing when the charset is unknown.
std::optional<QString> decodeCharset(QByteArrayView bytes, const QByteArray &charset);

// Decodes with the input's default: UTF-8, or Windows-1252 when `utf8` is false.
QString decodeDefault(QByteArrayView bytes, bool utf8);

} // namespace meridoc::cards::decoding
