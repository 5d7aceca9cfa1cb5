#pragma once

#include "contact.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Which column of a CSV export holds what, decided once from the header line.
namespace meridoc::cards::csv {

// True for a value that says nothing about the person: Outlook's defaults ("Normal", "False",
// "0/0/00"), what it derives from other columns (initials, an e-mail's display name), Google's
// group of all contacts.
bool noInformation(const QString &header, const QString &value);

class Layout {
public:
    // Finds the columns of the known exports (Google current and legacy, Outlook, Thunderbird)
    // by their header names, then applies `map`. Returns a reason when the header names no
    // known column and `map` is empty, or when `map` names an unknown field or a missing column.
    std::optional<QString> build(const QStringList &header, const CsvMap &map);

    // The contact of one row (a short row reads as if the missing fields were empty).
    Contact contact(const QStringList &fields) const;

private:
    struct PhoneColumn {
        int value = -1;
        int label = -1; // a column naming the type ("Mobile", "* Work"), or -1
        QStringList types;
        bool preferred = false;
    };
    struct DetailColumn {
        QString base; // "E-mail", "Web", "Organisation", ...
        QString type;
        int value = -1;
        int label = -1;
        int service = -1; // an instant messenger's service column
    };
    struct AddressColumns {
        QString type;
        int label = -1;
        int formatted = -1;
        // Columns of the address's parts, each with its part (AddressPart); several columns
        // of one part (Outlook's "Street 2") are joined.
        QList<std::pair<int, int>> parts;
    };

    int column(const QString &name) const;
    int use(const QString &name); // column() and marks it as read
    void numbered(const QStringList &header);
    void fixed(const QStringList &header);
    void generic();

    QStringList headers_;       // lower case
    QHash<QString, int> index_; // header -> its first column: the layout is linear in columns
    QList<bool> used_;
    int given_ = -1, middle_ = -1, family_ = -1, formatted_ = -1, prefix_ = -1, suffix_ = -1;
    int note_ = -1, extraNote_ = -1;
    int birthYear_ = -1, birthMonth_ = -1, birthDay_ = -1;
    QList<PhoneColumn> phones_;
    QList<DetailColumn> details_;
    QList<AddressColumns> addresses_;
    QList<int> leftovers_; // columns without a place of their own, kept as "Header: value"
    QStringList headerNames_;
};

} // namespace meridoc::cards::csv
