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

bool isValidUtf8(QByteArrayView bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more;
        unsigned min;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            min = 0x10000;
        } else {
            return false;
        }
        unsigned code = c & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += more + 1;
    }
    return true;
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
    return decodeDefault(body, isValidUtf8(body));
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
