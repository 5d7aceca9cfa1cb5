#pragma once

#include "contact.h"
#include "export_entry.h"

#include <QByteArray>

// CSV output in the layout of Google Contacts' export (its current header names): UTF-8, CRLF
// between records, fields quoted as RFC 4180 asks.
namespace meridoc::cards {

QByteArray CsvHeader();
// The row of a contact: names, nickname, organisation and title, birthday, groups, notes, up to
// three e-mails, four phones, two addresses and a web site in their columns; whatever finds no
// column goes to the notes as its labelled line. An empty comment before a note is kept as the
// notes' empty first line.
QByteArray CsvRow(const Contact &contact);
// The row of an entry and its extra text (ContactOfEntry).
QByteArray CsvRow(const ExportEntry &entry);

// The field quoted when it holds a comma, a quote, a line break or leading/trailing blanks.
QByteArray CsvField(const QString &value);

} // namespace meridoc::cards
