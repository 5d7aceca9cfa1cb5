#include "data/rtf_codepage.h"

#include "data/text.h"

#include <QStringDecoder>

namespace rtf::codepage {

namespace {

const char *converterName(int codePage) {
    switch (codePage) {
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 852:
        return "IBM852";
    case 866:
        return "IBM866";
    case 874:
        return "windows-874";
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 10000:
        return "macintosh";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 28591:
        return "ISO-8859-1";
    case 28592:
        return "ISO-8859-2";
    case 28595:
        return "ISO-8859-5";
    case 28597:
        return "ISO-8859-7";
    case 28605:
        return "ISO-8859-15";
    case 65001:
        return "UTF-8";
    default:
        return nullptr;
    }
}

} // namespace

bool isLeadByte(int codePage, unsigned char byte) {
    switch (codePage) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return false;
    }
}

int forCharset(int charset) {
    switch (charset) {
    case 0:
        return Windows1252;
    case 2:
        return Symbol;
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0;
    }
}

Decoders::Decoders() = default;
Decoders::~Decoders() = default;

QStringDecoder *Decoders::decoderFor(int codePage) {
    auto it = decoders_.find(codePage);
    if (it != decoders_.end())
        return it->second.get();
    std::unique_ptr<QStringDecoder> decoder;
    if (const char *name = converterName(codePage)) {
        decoder = std::make_unique<QStringDecoder>(name, QStringConverter::Flag::Stateless);
        if (!decoder->isValid())
            decoder.reset();
    }
    QStringDecoder *raw = decoder.get();
    decoders_.emplace(codePage, std::move(decoder));
    return raw;
}

QString Decoders::decode(const QByteArray &bytes, int codePage) {
    if (codePage == Symbol) {
        // Symbol fonts draw their own glyphs; the one that matters for text
        // is the bullet that lists use.
        QString out = meridoc::text::fromCp1252(bytes);
        out.replace(QChar(0x00B7), QChar(0x2022));
        return out;
    }
    if (codePage == Windows1252 || codePage <= 0)
        return meridoc::text::fromCp1252(bytes);
    if (QStringDecoder *decoder = decoderFor(codePage))
        return decoder->decode(bytes);
    return meridoc::text::fromCp1252(bytes);
}

} // namespace rtf::codepage
