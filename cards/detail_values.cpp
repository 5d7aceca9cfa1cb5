#include "detail_values.h"

#include <QDate>
#include <QRegularExpression>

namespace meridoc::cards {
namespace {

// The forms of a date, each with the places of its year, month and day among its captures
// (0: not given).
struct DateForm {
    QRegularExpression pattern;
    int year, month, day;
};

const QList<DateForm> &dateForms() {
    static const QList<DateForm> forms = {
        {QRegularExpression(QStringLiteral("^(\\d{4})-?(\\d{2})-?(\\d{2})$")), 1, 2, 3},
        {QRegularExpression(QStringLiteral("^--(\\d{2})-?(\\d{2})$")), 0, 1, 2},
        {QRegularExpression(QStringLiteral("^(\\d{4})/(\\d{1,2})/(\\d{1,2})$")), 1, 2, 3},
        {QRegularExpression(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4})$")), 3, 1, 2},
        {QRegularExpression(QStringLiteral("^(\\d{1,2})[.-](\\d{1,2})[.-](\\d{4})$")), 3, 2, 1},
    };
    return forms;
}

// `text` split at each `separator` without a backslash before it, each part unescaped and
// trimmed.
QStringList splitEscaped(const QString &text, QChar separator) {
    QStringList parts(1);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size())
            parts.last() += text[++i];
        else if (text[i] == separator)
            parts.append(QString());
        else
            parts.last() += text[i];
    }
    for (QString &part : parts)
        part = part.trimmed();
    return parts;
}

QString escaped(QString text, QChar separator) {
    text.replace(u'\\', QLatin1String("\\\\"));
    return text.replace(separator, QString(u'\\') + separator);
}

// The parts of an address in the order its line shows them.
constexpr AddressPart ShownOrder[] = {Street, City, Region, Code, Country, PoBox, Extended};

} // namespace

std::optional<PartialDate> ParseDate(const QString &text) {
    QString value = text.trimmed();
    if (const qsizetype time = value.indexOf(u'T'); time >= 8)
        value.truncate(time);
    for (const DateForm &form : dateForms()) {
        const auto m = form.pattern.match(value);
        if (!m.hasMatch())
            continue;
        PartialDate date{form.year ? m.captured(form.year).toInt() : 0,
                         m.captured(form.month).toInt(), m.captured(form.day).toInt()};
        // Outlook writes the month first in some locales and the day first in others: a first
        // number that cannot be a month is the day.
        if (form.year == 3 && form.month == 1 && date.month > 12)
            std::swap(date.month, date.day);
        // A year-less day is checked against a leap year, so that --02-29 stays.
        if (!QDate(date.year ? date.year : 2000, date.month, date.day).isValid())
            return std::nullopt;
        return date;
    }
    return std::nullopt;
}

QString ReadableDate(const PartialDate &date) {
    const QString monthDay = QStringLiteral("%1-%2")
                                 .arg(date.month, 2, 10, QChar(u'0'))
                                 .arg(date.day, 2, 10, QChar(u'0'));
    return date.year ? QStringLiteral("%1-").arg(date.year, 4, 10, QChar(u'0')) + monthDay
                     : QStringLiteral("--") + monthDay;
}

QByteArray VCardDate(const PartialDate &date, bool v4) {
    QByteArray out = ReadableDate(date).toLatin1();
    if (!v4)
        return out;
    out.replace('-', "");
    return date.year ? out : "--" + out;
}

QString ReadableAddress(const Address &address) {
    QStringList shown;
    for (const AddressPart part : ShownOrder)
        shown += escaped(address[part].trimmed(), u';');
    while (!shown.isEmpty() && shown.last().isEmpty())
        shown.removeLast();
    return shown.join(QLatin1String("; "));
}

Address ParseAddress(const QString &text) {
    const QStringList shown = splitEscaped(text, u';');
    Address address;
    for (qsizetype i = 0; i < shown.size() && i < AddressParts; ++i)
        address[ShownOrder[i]] = shown[i];
    return address;
}

QString JoinGroups(const QStringList &groups) {
    QStringList shown;
    for (const QString &group : groups)
        if (!group.trimmed().isEmpty())
            shown += escaped(group.trimmed(), u',');
    return shown.join(QLatin1String(", "));
}

QStringList SplitGroups(const QString &text) {
    QStringList groups = splitEscaped(text, u',');
    groups.removeAll(QString());
    return groups;
}

} // namespace meridoc::cards
