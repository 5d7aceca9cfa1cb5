#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "data/entryrecord.h"

#include <array>

#include <functional>
#include <optional>

// A contact as another address book hands it over (a vCard or a CSV row), before it is fitted
// into a card-file entry. Everything here is decoded text; nothing is cut yet.
namespace meridoc::cards {

struct Phone {
    QString number;
    // Lower-case type names as the source gives them ("cell", "home", "work", "voice", "fax",
    // "pref", ...); the mapping orders phones by them.
    QStringList types;
    bool preferred = false;
};

// The type of the record's PHONE1 (slot 0) and PHONE2 (slot 1) when the extra text names none.
// Address books list a mobile number first and a home number second, and the mapping orders
// phones so: the usual contact's types need no line, and a phone without a type gets these.
inline QString DefaultPhoneType(int slot) {
    return slot == 0 ? QStringLiteral("mobile") : QStringLiteral("home");
}

// One labelled value that does not fit a record field ("E-mail", "Address (home)", "Birthday",
// "Organisation", ...), kept so that it can go into the person's extra text.
struct Detail {
    QString label;
    QString value;
};

// A detail's label with its type: "E-mail" and "work" give "E-mail (work)"; no type, no brackets.
QString detailLabel(const QString &base, const QString &type);

struct Contact {
    QString given{};     // N's given name, or a CSV "First Name"
    QString family{};    // N's family name, or a CSV "Last Name"
    QString formatted{}; // FN, or a CSV display name
    QList<Phone> phones{};
    QString note{};          // the whole note, line breaks as '\n'
    QList<Detail> details{}; // e-mail, addresses, birthday, organisation, ...
    QString uid{};           // UID when the source gives one
    int line = 0;            // line of the source where the contact starts (1-based)
    QString additional{}, prefix{}, suffix{}; // the other parts of N (middle names, "Dr.", "Jr.")
    bool organisation = false; // the card stands for a company (KIND:org and the like)
    // COMMENTS given apart from the note (by this tool's own export when the comment is empty
    // but the note is not); without it, the note's first line is the comment.
    std::optional<QString> comments{};
    // What the source held that is kept nowhere, one remark each ("PHOTO of 2,345 bytes not
    // kept"); the import reports them.
    QStringList notKept{};
    // What reading changed ("read as Windows-1252 ..."), for the report.
    QStringList remarks{};
};

// A malformed input: the line (1-based) and the reason, e.g. "card without END:VCARD".
struct ParseError {
    int line = 0;
    QString reason;
};

class InputText;

// Receives each contact as it is read; returning false stops the reading.
using ContactSink = std::function<bool(Contact &&)>;

// Reads vCard 2.1, 3.0 and 4.0 from raw file bytes (many cards, folding, quoted-printable,
// CHARSET=, groups, escapes, a byte-order mark, CRLF or LF). Returns the first error, if any;
// contacts before it have been handed to `sink`.
// Memory stays bounded whatever the input: a property, a card or a name over the limits of
// input_text.h is refused at its line. A card that is not valid UTF-8 (and names no charset) is
// read as Windows-1252, and its remarks say so.
std::optional<ParseError> readVCards(InputText &input, const ContactSink &sink);
std::optional<ParseError> readVCards(QByteArrayView bytes, const ContactSink &sink);

// Column overrides for CSV files: record field ("NAME", "SURNAME", "PHONE1", "PHONE2",
// "COMMENTS") -> header name in the file.
using CsvMap = QMap<QString, QString>;

// Reads a CSV export (Google current and legacy, Outlook, Thunderbird, or any file with `map`)
// from raw bytes: UTF-8, UTF-16 with a byte-order mark, or Windows-1252; comma, semicolon or tab
// (the one the header line uses most, or the one a leading "sep=;" line names). Columns are found
// by their header names; columns of a known export that have no use are ignored, while in a file
// read only through `map` every other non-empty column is kept as a Detail labelled by its
// header. A row shorter than the header reads its missing fields as empty; a longer row is an
// error unless the fields past the header are empty (a trailing separator).
// Each field is read as UTF-8 when it is valid UTF-8, else as Windows-1252 (the contact's remarks
// say so); a field, a row or a name over the limits of input_text.h is refused at its line.
std::optional<ParseError> readCsv(InputText &input, const CsvMap &map, const ContactSink &sink);
std::optional<ParseError> readCsv(QByteArrayView bytes, const CsvMap &map, const ContactSink &sink);

// True when the bytes look like vCard rather than CSV (first non-blank line is BEGIN:VCARD,
// ignoring a byte-order mark and letter case).
bool looksLikeVCard(QByteArrayView bytes);

// A contact fitted into a card-file entry. NAME = given name, SURNAME = family name; with neither,
// the formatted name's last word is the surname and the words before it the name; a company
// (marked as one, or with no name but its organisation's) has the organisation as its surname and
// no NAME. PHONE1 and PHONE2 = the first two phones, preferred or mobile first, then home, then
// work, then the others (fax and pager among them), each class in source order. COMMENTS = the
// note's first line. Characters Windows-1252 lacks are written in Latin letters
// (toCp1252Latin); the text as written goes to the extra text.

// The line that heads a contact's lines in an extra text, naming it in full.
inline const QLatin1String FullNameHeading("Full name: ");

struct MappedEntry {
    // NAME, SURNAME, PHONE1, PHONE2, COMMENTS as Windows-1252 bytes, cut to the field maxima.
    std::array<QByteArray, 5> fields;
    // Lines for the person's extra text (exact Unicode text), none when everything fitted the
    // record. Otherwise first "Full name: <name as written>", which heads the contact's lines so
    // that two people sharing one extra text stay apart; then "Note: <first line>" when that line
    // was cut or transliterated, the note's further lines verbatim, "Name: ..." / "Surname: ..."
    // for a name that did not fit, "Middle name", "Name prefix", "Name suffix", the types of
    // PHONE1 and PHONE2 other than DefaultPhoneType ("Phone 1 type: work"), further phones and
    // phones that did not fit
    // ("Phone (work): ..."), e-mails, addresses, then the other details ("Birthday: ...",
    // "Organisation: ...", "Groups: ...") in source order.
    QStringList extraLines;
    // One short remark per loss from the record ("COMMENTS cut to 50", "3rd phone moved to the
    // extra text", "NAME written in Latin letters"), and what the source held that is kept
    // nowhere; empty when nothing was lost.
    QStringList losses;
    // The name as written: the heading of the contact's lines in the extra text.
    QString fullName;
};

MappedEntry mapContact(const Contact &contact);

// The bytes a record field holds for `value`: written in Latin letters where needed, cut to the
// field's maximum.
QByteArray FieldBytes(Field field, const QString &value);

} // namespace meridoc::cards
