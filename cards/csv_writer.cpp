#include "csv_writer.h"

#include "detail_values.h"
#include "entry_contact.h"

namespace meridoc::cards {
namespace {

constexpr int Emails = 3, Phones = 4, Addresses = 2, Websites = 1;

// The columns of each address, and the part each column from "Street" on holds.
constexpr const char *AddressColumns[] = {"Label",       "Formatted", "Street",
                                          "City",        "PO Box",    "Region",
                                          "Postal Code", "Country",   "Extended Address"};
constexpr AddressPart AddressColumnParts[] = {Street, City, PoBox, Region, Code, Country, Extended};

// An address's columns: its label, the address as a person writes it on an envelope, then its
// parts, which a reader takes rather than the formatted text.
void addressColumns(QByteArray &row, const QString &type, const QString &value) {
    const Address a = ParseAddress(value);
    const QString cityLine = QStringList{a[Code], a[City]}.join(u' ').trimmed();
    QStringList lines = {a[Street], a[Extended], a[PoBox], cityLine, a[Region], a[Country]};
    lines.removeAll(QString());
    row += ',' + CsvField(type) + ',' + CsvField(lines.join(u'\n'));
    for (const AddressPart part : AddressColumnParts)
        row += ',' + CsvField(a[part]);
}

// Up to `count` label/value column pairs of the values whose label starts with `base`.
void pairs(QByteArray &row, QList<std::pair<QString, QString>> values, int count,
           QStringList &overflow, const QString &base) {
    for (int i = 0; i < count; ++i) {
        const auto [type, value] = i < values.size() ? values[i] : std::pair<QString, QString>{};
        row += ',' + CsvField(type) + ',' + CsvField(value);
    }
    for (qsizetype i = count; i < values.size(); ++i)
        overflow += detailLabel(base, values[i].first) + QStringLiteral(": ") + values[i].second;
}

// "Base (type)" as its type when its base is `base`.
std::optional<QString> typeOf(const QString &label, const QString &base) {
    if (label == base)
        return QString();
    if (label.startsWith(base + QStringLiteral(" (")) && label.endsWith(u')'))
        return label.mid(base.size() + 2).chopped(1);
    return std::nullopt;
}

} // namespace

QByteArray CsvHeader() {
    QByteArray header = "First Name,Middle Name,Last Name,Name Prefix,Name Suffix,Nickname,"
                        "Organization Name,Organization Title,Birthday,Labels,Notes";
    const auto numbered = [&](const char *kind, int count, const char *second) {
        for (int i = 1; i <= count; ++i)
            header += QByteArray(",") + kind + ' ' + QByteArray::number(i) + " - Label," + kind +
                      ' ' + QByteArray::number(i) + " - " + second;
    };
    numbered("E-mail", Emails, "Value");
    numbered("Phone", Phones, "Value");
    for (int i = 1; i <= Addresses; ++i) {
        const QByteArray prefix = ",Address " + QByteArray::number(i) + " - ";
        for (const char *column : AddressColumns)
            header += prefix + column;
    }
    numbered("Website", Websites, "Value");
    return header + "\r\n";
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

QByteArray CsvRow(const Contact &c) {
    QString single[5]; // nickname, organisation, title, birthday, groups
    const char *singleBases[5] = {"Nickname", "Organisation", "Title", "Birthday", "Groups"};
    QList<std::pair<QString, QString>> emails, addresses, websites, phones;
    QStringList overflow;
    for (const Phone &p : c.phones)
        phones.append({p.types.join(QStringLiteral(", ")), p.number});
    for (const Detail &d : c.details) {
        bool placed = false;
        for (int i = 0; i < 5 && !placed; ++i)
            if (d.label == QLatin1String(singleBases[i]) && single[i].isEmpty())
                single[i] = d.value, placed = true;
        for (auto [list, base] :
             {std::pair{&emails, "E-mail"}, {&addresses, "Address"}, {&websites, "Web"}})
            if (const auto type = typeOf(d.label, QLatin1String(base)); type && !placed)
                list->append({*type, d.value}), placed = true;
        if (!placed)
            overflow += d.label + QStringLiteral(": ") + d.value;
    }
    const bool company = c.organisation;
    QByteArray row = CsvField(company ? QString() : c.given) + ',' + CsvField(c.additional) + ',' +
                     CsvField(company ? QString() : c.family) + ',' + CsvField(c.prefix) + ',' +
                     CsvField(c.suffix);
    // Google lists groups apart by " ::: ".
    single[4] = SplitGroups(single[4]).join(QLatin1String(" ::: "));
    for (const QString &value : single)
        row += ',' + CsvField(value);
    QByteArray tail;
    pairs(tail, emails, Emails, overflow, QStringLiteral("E-mail"));
    pairs(tail, phones, Phones, overflow, QStringLiteral("Phone"));
    for (int i = 0; i < Addresses; ++i) {
        const auto [type, value] = addresses.value(i);
        addressColumns(tail, type, value);
    }
    for (qsizetype i = Addresses; i < addresses.size(); ++i)
        overflow += detailLabel(QStringLiteral("Address"), addresses[i].first) +
                    QStringLiteral(": ") + addresses[i].second;
    pairs(tail, websites, Websites, overflow, QStringLiteral("Web"));
    QString notes = c.note;
    if (!overflow.isEmpty())
        notes += (notes.isEmpty() ? QString() : QStringLiteral("\n")) + overflow.join(u'\n');
    if (c.comments && c.comments->isEmpty() && !notes.isEmpty())
        notes.prepend(u'\n');
    return row + ',' + CsvField(notes) + tail + "\r\n";
}

QByteArray CsvRow(const ExportEntry &entry) {
    FieldViews fields;
    std::copy(entry.fields.begin(), entry.fields.end(), fields.begin());
    return CsvRow(ContactOfEntry(fields, entry.extraText));
}

} // namespace meridoc::cards
