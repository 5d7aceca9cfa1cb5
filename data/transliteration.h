#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Fitting Unicode text into the single-byte Windows-1252 fields of an entry, for the windows and
// for contacts brought in from outside alike.
namespace meridoc {

// The text as Windows-1252 bytes, never with a '?' for what the code page lacks. Every character
// Windows-1252 holds stays as it is (é, ö, ñ, ß, Š, Œ, €). Runs of other characters are written
// in Latin letters (ICU's "Any-Latin"), keeping the letters of that Latin form Windows-1252 holds
// ("Шостакович" gives "Šostakovic"); a letter it still lacks is written in ASCII ("Łukasz" gives
// "Lukasz"). Chinese, Japanese and Korean come out in plain ASCII, without their tone and length
// marks ("王小明" gives "Wang Xiao Ming"). What has no Latin form at all (an emoji) is left out.
// `changed` is set when any character was replaced or left out.
QByteArray toCp1252Latin(const QString &text, bool *changed = nullptr);

// The bytes the remembered Latin forms take now; they stay under a few megabytes whatever the
// input.
std::size_t transliterationCacheBytes();

} // namespace meridoc
