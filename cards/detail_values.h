#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The values of details that have a structure of their own: dates, postal addresses and lists
// of groups, as the extra text shows them and as the readers and writers take them apart.
namespace meridoc::cards {

// A calendar date; `year` is 0 for a birthday given without its year.
struct PartialDate {
    int year = 0, month = 0, day = 0;
};

// A date as the sources write it: vCard's "19800315", "1980-03-15", "--0315", "--03-15" (a time
// after a 'T' is ignored), Google's "1980-03-15" and " --03-15", Outlook's "3/15/1980" (month
// first, or day first when the first number cannot be a month) and "15.03.1980". Nothing for
// anything else, or for a day the calendar lacks.
std::optional<PartialDate> ParseDate(const QString &text);

// The form the extra text shows: "1980-03-15", or "--03-15" without a year.
QString ReadableDate(const PartialDate &date);

// The value of BDAY and ANNIVERSARY: vCard 4.0's basic form ("19800315", "--0315") or 3.0's
// extended one ("1980-03-15", "--03-15").
QByteArray VCardDate(const PartialDate &date, bool v4);

// The components of an ADR, in its order.
enum AddressPart { PoBox, Extended, Street, City, Region, Code, Country, AddressParts };
using Address = std::array<QString, AddressParts>;

// An address as its extra-text line shows it: street, city, region, postal code and country,
// then PO box and extended address, separated by "; ", the empty ones at the end left out
// ("Calle Mayor 1, 2º; Madrid; ; 28013; España"). A ';' or '\' inside a part gets a backslash.
// An address of a street only is that street, as earlier versions wrote every address.
QString ReadableAddress(const Address &address);
// The other direction: a line written by ReadableAddress, or a line of an earlier version (the
// whole address as the street).
Address ParseAddress(const QString &text);

// Groups as the extra text lists them: "Clients, VIP", a ',' or '\' inside a name given a
// backslash.
QString JoinGroups(const QStringList &groups);
QStringList SplitGroups(const QString &text);

} // namespace meridoc::cards
