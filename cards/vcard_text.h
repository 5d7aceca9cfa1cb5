#pragma once

#include <QString>
#include <QStringList>

// Text values of vCards: backslash escapes and structured values.
namespace meridoc::cards::vcard {

// Resolves \n \N \, \; \: \\ ; any other backslash stays as it is. An unescaped ',' (which
// separates the values of a list) becomes `listSeparator`.
QString unescape(const QString &value, const QString &listSeparator = QStringLiteral(","));

// The components of a structured value (N, ADR, ORG), split at unescaped ';', each unescaped.
QStringList components(const QString &value, const QString &listSeparator);

} // namespace meridoc::cards::vcard
