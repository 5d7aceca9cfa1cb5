#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

class QStringDecoder;

// Code-page helpers of the RTF reader.
namespace rtf::codepage {

constexpr int Windows1252 = 1252;
// Marks text in a font with the symbol character set.
constexpr int Symbol = -2;

// True when `byte` opens a two-byte character in the given code page.
bool isLeadByte(int codePage, unsigned char byte);

// Code page of an RTF \fcharset number (0, ANSI, is Windows-1252), or 0 when
// the charset says "use the document's code page" or is unknown.
int forCharset(int charset);

// Turns bytes of one code page into text. Converters are made on first use
// and kept; a code page without a converter is read as Windows-1252.
class Decoders {
public:
    Decoders();
    ~Decoders();
    Decoders(const Decoders &) = delete;
    Decoders &operator=(const Decoders &) = delete;

    QString decode(const QByteArray &bytes, int codePage);

private:
    QStringDecoder *decoderFor(int codePage);
    std::map<int, std::unique_ptr<QStringDecoder>> decoders_;
};

} // namespace rtf::codepage
