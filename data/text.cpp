#include "text.h"

#include <array>

namespace meridoc::text {
namespace {

// Unicode code points of the bytes 0x80 to 0x9F in Windows-1252. Undefined bytes keep their own
// code so that they round-trip.
constexpr std::array<char16_t, 32> kHighTable = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char encodeChar(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (std::size_t i = 0; i < kHighTable.size(); ++i) {
        if (kHighTable[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

bool isTrimmable(unsigned code) {
    return code <= 32;
}

char upperByte(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

QByteArray toCp1252(const QString &s) {
    // Written in place, not appended byte by byte: an import spent a twentieth of its time here.
    QByteArray out(s.size(), Qt::Uninitialized);
    char *o = out.data();
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar ch = s.at(i);
        if (ch.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) {
            *o++ = '?'; // a character outside the Basic Multilingual Plane: one byte only
            ++i;
            continue;
        }
        *o++ = encodeChar(ch.unicode());
    }
    out.truncate(o - out.constData());
    return out;
}

bool inCp1252(char16_t c) {
    return c == u'?' || encodeChar(c) != '?';
}

QString fromCp1252(const QByteArray &bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out.append(QChar(u >= 0x80 && u < 0xA0 ? kHighTable[u - 0x80] : char16_t(u)));
    }
    return out;
}

QString fromUtf8OrCp1252(QByteArrayView bytes) {
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : fromCp1252(bytes.toByteArray());
}

QByteArray upperAscii(QByteArray bytes) {
    for (char &c : bytes)
        c = upperByte(c);
    return bytes;
}

QString upperAscii(QString s) {
    for (QChar &c : s) {
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return s;
}

QByteArray trimmed(const QByteArray &bytes) {
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isTrimmable(static_cast<unsigned char>(bytes.at(begin))))
        ++begin;
    while (end > begin && isTrimmable(static_cast<unsigned char>(bytes.at(end - 1))))
        --end;
    return bytes.mid(begin, end - begin);
}

QString trimmed(const QString &s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isTrimmable(s.at(begin).unicode()))
        ++begin;
    while (end > begin && isTrimmable(s.at(end - 1).unicode()))
        --end;
    return s.mid(begin, end - begin);
}

bool equalsIgnoringAsciiCase(const QByteArray &a, const QByteArray &b) {
    return upperAscii(a) == upperAscii(b);
}

bool equalsIgnoringAsciiCase(const QString &a, const QString &b) {
    return upperAscii(a) == upperAscii(b);
}

} // namespace meridoc::text
