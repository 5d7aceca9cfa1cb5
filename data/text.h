#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Single-byte text as stored in card files and the configuration file. Record fields hold
// Windows-1252 bytes; widgets hold QStrings. These helpers convert at that boundary and do the
// byte-level upper-casing and trimming the program relies on, never anything locale-aware.
namespace meridoc::text {

// Each character maps to one Windows-1252 byte; a character the code page cannot hold becomes '?'.
QByteArray toCp1252(const QString &s);
// Whether Windows-1252 holds the character (toCp1252 gives no '?' for it).
bool inCp1252(char16_t c);
// Every byte maps to one character; the five bytes Windows-1252 leaves undefined map to the C1
// control characters of the same code, so any byte string survives a round trip.
QString fromCp1252(const QByteArray &bytes);
// Text from a file of unknown single- or multi-byte encoding: UTF-8 when the bytes are valid
// UTF-8, otherwise Windows-1252, the program's own single-byte text.
QString fromUtf8OrCp1252(QByteArrayView bytes);

// a-z become A-Z; every other byte or character is left as it is.
QByteArray upperAscii(QByteArray bytes);
QString upperAscii(QString s);

// Removes every leading and trailing character of code 0 to 32.
QByteArray trimmed(const QByteArray &bytes);
QString trimmed(const QString &s);

bool equalsIgnoringAsciiCase(const QByteArray &a, const QByteArray &b);
bool equalsIgnoringAsciiCase(const QString &a, const QString &b);

} // namespace meridoc::text
