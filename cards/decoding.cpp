#include "decoding.h"

#include "data/text.h"

#include <QStringDecoder>

namespace meridoc::cards::decoding {

Bom detectBom(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return Bom::Utf8;
    if (bytes.startsWith("\xFF\xFE"))
        return Bom::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return Bom::Utf16BE;
    return Bom::None;
}

int bomLength(Bom bom) {
    switch (bom) {
    case Bom::None:
        return 0;
    case Bom::Utf8:
        return 3;
    default:
        return 2;
    }
}

QString decodeDefault(QByteArrayView bytes, bool utf8) {
    return utf8 ? QString::fromUtf8(bytes) : text::fromCp1252(bytes.toByteArray());
}

QString decodeInput(QByteArrayView bytes) {
    const Bom bom = detectBom(bytes);
    const QByteArrayView body = bytes.sliced(bomLength(bom));
    switch (bom) {
    case Bom::Utf16LE:
        return QStringDecoder(QStringConverter::Utf16LE)(body);
    case Bom::Utf16BE:
        return QStringDecoder(QStringConverter::Utf16BE)(body);
    case Bom::Utf8:
        return QString::fromUtf8(body);
    case Bom::None:
        break;
    }
    return text::fromUtf8OrCp1252(body);
}

std::optional<QString> decodeCharset(QByteArrayView bytes, const QByteArray &charset) {
    const QByteArray name = charset.trimmed().toLower();
    // Windows-1252 is decoded by the card files' own table, so it does not depend on which
    // codecs Qt was built with; ASCII is a subset of it.
    if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252" || name == "us-ascii" ||
        name == "ascii")
        return text::fromCp1252(bytes.toByteArray());
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

} // namespace meridoc::cards::decoding
