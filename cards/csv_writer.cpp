#include "csv_writer.h"

namespace meridoc::cards {

QByteArray CsvHeader() {
    return "First Name,Middle Name,Last Name,Notes,"
           "Phone 1 - Label,Phone 1 - Value,Phone 2 - Label,Phone 2 - Value\r\n";
}

QByteArray CsvField(const QString &value) {
    const bool quote = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
                       value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')) ||
                       value.contains(QLatin1Char(';')) || value.trimmed() != value;
    if (!quote)
        return value.toUtf8();
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return '"' + quoted.toUtf8() + '"';
}

QByteArray CsvRow(const ExportEntry &entry) {
    QByteArray row = CsvField(entry.text(Field::NAME)) + ",," +
                     CsvField(entry.text(Field::SURNAME)) + ',' + CsvField(ExportNote(entry));
    for (Field f : {Field::PHONE1, Field::PHONE2}) {
        const QString phone = entry.text(f);
        row += phone.isEmpty() ? QByteArray(",,") : ",Other," + CsvField(phone);
    }
    row += "\r\n";
    return row;
}

} // namespace meridoc::cards
