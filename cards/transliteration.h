#pragma once

#include <QByteArray>
#include <QString>

// Fitting Unicode text into the single-byte Windows-1252 fields of an entry.
namespace meridoc::cards {

// The text as Windows-1252 bytes: every character Windows-1252 holds stays as it is (é, ö, ñ,
// ß, €), every other one is written in Latin letters (ICU's "Any-Latin; Latin-ASCII", each
// run of such characters at once): "Łukasz" gives "Lukasz", "Дмитрий" "Dmitrij", "王小明" "Wang
// Xiao Ming". A character without a Latin form (an emoji) becomes '?'. `changed` is set when any
// character was replaced.
QByteArray toCp1252Latin(const QString &text, bool *changed = nullptr);

} // namespace meridoc::cards
