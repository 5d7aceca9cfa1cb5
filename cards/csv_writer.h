#pragma once

#include "export_entry.h"

#include <QByteArray>

// CSV output in the layout of Google Contacts' export (its current header names, the columns
// an entry fills): UTF-8, CRLF between records, fields quoted as RFC 4180 asks.
namespace meridoc::cards {

QByteArray CsvHeader();
QByteArray CsvRow(const ExportEntry &entry);

// The field quoted when it holds a comma, a quote, a line break or leading/trailing blanks.
QByteArray CsvField(const QString &value);

} // namespace meridoc::cards
