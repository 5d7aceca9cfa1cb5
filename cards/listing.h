#pragma once

#include "commands.h"

#include <QString>

namespace meridoc::cards {

// The entries of the card file in card-file order, one a line, the five fields tab-separated as
// stored (a tab or line break inside a field printed as a blank), or with `json` a JSON array of
// objects with the keys name, surname, phone1, phone2, comments. Throws Failure.
void RunList(const CommandContext &ctx, bool json);

struct FindRequest {
    QString text;  // found in any field or the extra text, ignoring case; empty: not asked
    QString phone; // compared by its digits; empty: not asked
    bool json = false;
};

// Lists, as RunList does, the entries that match every part of the request. Returns whether
// any entry matched (nothing is printed then). Throws Failure.
bool RunFind(const CommandContext &ctx, const FindRequest &request);

// The digits of a phone number as written, in order; a trunk "(0)" after a country code
// ("+49 (0)170 ...") is not one of them.
QString DigitsOf(const QString &text);

// Whether a phone number matches the digits searched for: without their leading zeros, the two
// digit strings are equal, or the longer ends with the shorter and the shorter has at least 7
// digits (a number written with or without its country code, area code or trunk prefix).
bool PhoneMatches(QStringView phoneDigits, QStringView wantedDigits);

} // namespace meridoc::cards
