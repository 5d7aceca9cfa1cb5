#include "csv_layout.h"

#include "detail_values.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <functional>

namespace meridoc::cards::csv {

namespace {

// Phone columns with fixed names (Outlook, Thunderbird) and the types they stand for.
const QHash<QString, QStringList> &fixedPhones() {
    static const QHash<QString, QStringList> table = {
        {"primary phone", {"pref"}},
        {"mobile phone", {"cell"}},
        {"mobile number", {"cell"}},
        {"home phone", {"home"}},
        {"home phone 2", {"home"}},
        {"business phone", {"work"}},
        {"business phone 2", {"work"}},
        {"work phone", {"work"}},
        {"company main phone", {"work", "main"}},
        {"other phone", {"other"}},
        {"car phone", {"car"}},
        {"pager", {"pager"}},
        {"pager number", {"pager"}},
        {"business fax", {"work", "fax"}},
        {"home fax", {"home", "fax"}},
        {"other fax", {"fax"}},
        {"fax number", {"fax"}},
        {"assistant's phone", {"assistant"}},
        {"callback", {"callback"}},
        {"isdn", {"isdn"}},
        {"radio phone", {"radio"}},
        {"telex", {"telex"}},
        {"tty/tdd phone", {"textphone"}},
    };
    return table;
}

// Other single-value columns with fixed names, by the label their value gets.
const QHash<QString, QString> &fixedDetails() {
    static const QHash<QString, QString> table = {
        {"e-mail address", "E-mail"},
        {"e-mail 2 address", "E-mail"},
        {"e-mail 3 address", "E-mail"},
        {"primary email", "E-mail"},
        {"secondary email", "E-mail"},
        {"organization name", "Organisation"},
        {"organization 1 - name", "Organisation"},
        {"company", "Organisation"},
        {"organization", "Organisation"},
        {"organization title", "Title"},
        {"organization 1 - title", "Title"},
        {"job title", "Title"},
        {"organization department", "Department"},
        {"organization 1 - department", "Department"},
        {"department", "Department"},
        {"nickname", "Nickname"},
        {"birthday", "Birthday"},
        {"anniversary", "Anniversary"},
        {"web page", "Web"},
        {"web page 1", "Web"},
        {"web page 2", "Web"},
    };
    return table;
}

// Address columns of Outlook ("Home Street", "Business City") and Thunderbird ("Work ZipCode"),
// with the part of the address each holds.
const QList<std::pair<const char *, AddressPart>> addressParts = {
    {" street", Street},  {" street 2", Street},        {" street 3", Street},
    {" address", Street}, {" address 2", Street},       {" po box", PoBox},
    {" city", City},      {" state", Region},           {" postal code", Code},
    {" zipcode", Code},   {" country/region", Country}, {" country", Country}};

// The parts of Google's numbered addresses ("Address 1 - City").
const QList<std::pair<const char *, AddressPart>> numberedAddressParts = {
    {"street", Street}, {"extended address", Extended}, {"po box", PoBox},   {"city", City},
    {"region", Region}, {"postal code", Code},          {"country", Country}};

// Groups as Google ("Friends ::: * myContacts") and Outlook ("Clients;VIP") list them; Google's
// group of all contacts is no group of the person's, and a '*' marking a system group goes.
QStringList groupsOf(const QString &header, const QString &value) {
    static const QRegularExpression outlook(QStringLiteral("[;,]"));
    const QStringList listed =
        header == u"categories" ? value.split(outlook) : value.split(QLatin1String(" ::: "));
    QStringList groups;
    for (QString g : listed) {
        g = g.trimmed();
        if (!g.isEmpty() && !noInformation(header, g))
            groups += g.startsWith(u'*') ? g.mid(1).trimmed() : g;
    }
    return groups;
}

// "* Mobile" marks the primary value in Google's exports.
QString labelType(QString label, bool *primary = nullptr) {
    label = label.trimmed();
    const bool star = label.startsWith(u'*');
    if (primary)
        *primary = star;
    return (star ? label.mid(1).trimmed() : label).toLower();
}

QStringList splitValues(const QString &value) {
    QStringList values;
    for (const QString &v : value.split(QLatin1String(" ::: ")))
        if (!v.trimmed().isEmpty())
            values += v.trimmed();
    return values;
}

} // namespace

bool noInformation(const QString &header, const QString &value) {
    const QString h = header.trimmed().toLower();
    const QString v = value.trimmed().toLower();
    // Outlook writes "0/0/00" for a date it does not know.
    if (h == u"birthday" || h == u"anniversary") {
        for (const QChar c : v)
            if (c != u'0' && c != u'/' && c != u'-' && c != u'.')
                return false;
        return true;
    }
    // Every contact of Google's exports is in its own contacts; Outlook's defaults and what it
    // derives from other columns.
    if (h == u"labels" || h == u"group membership")
        return v == u"* mycontacts" || v == u"* my contacts" || v == u"mycontacts";
    return (h == u"priority" && v == u"normal") || (h == u"sensitivity" && v == u"normal") ||
           (h == u"private" && v == u"false") || (h == u"gender" && v == u"unspecified") ||
           (h == u"e-mail type" && v == u"smtp") || h == u"e-mail display name" || h == u"initials";
}

int Layout::column(const QString &name) const {
    return index_.value(name, -1);
}

int Layout::use(const QString &name) {
    const int i = column(name);
    if (i >= 0)
        used_[i] = true;
    return i;
}

void Layout::numbered(const QStringList &header) {
    static const QRegularExpression pattern(
        QStringLiteral("^(phone|e-mail|website|address) (\\d+) - "));
    QSet<QString> seen;
    for (const QString &h : header) {
        const auto m = pattern.match(h);
        if (!m.hasMatch() || seen.contains(m.captured(0)))
            continue;
        const QString prefix = m.captured(0);
        seen.insert(prefix);
        int label = use(prefix + QLatin1String("label"));
        if (label < 0)
            label = use(prefix + QLatin1String("type"));
        const QString kind = m.captured(1);
        if (kind == u"address") {
            AddressColumns a{{}, label, use(prefix + QLatin1String("formatted")), {}};
            for (const auto &[name, part] : numberedAddressParts)
                if (const int i = use(prefix + QLatin1String(name)); i >= 0)
                    a.parts.append({i, part});
            addresses_ += a;
        } else if (kind == u"phone") {
            phones_ += PhoneColumn{use(prefix + QLatin1String("value")), label, {}, false};
        } else {
            details_ +=
                DetailColumn{kind == u"website" ? QStringLiteral("Web") : QStringLiteral("E-mail"),
                             {},
                             use(prefix + QLatin1String("value")),
                             label};
        }
    }
}

// Numbered groups of the other kinds ("Relation 1 - Label", "Event 1 - Value", "IM 1 - Service",
// "Custom Field 1 - Label"): one detail each, its label column giving the type.
void Layout::generic() {
    static const QRegularExpression pattern(
        QStringLiteral("^(.+) (\\d+) - (label|type|value|service)$"));
    QStringList seen;
    for (int i = 0; i < headers_.size(); ++i) {
        const auto m = pattern.match(headers_[i]);
        if (used_[i] || !m.hasMatch() || seen.contains(m.captured(1) + m.captured(2)))
            continue;
        seen += m.captured(1) + m.captured(2);
        const QString prefix = m.captured(1) + u' ' + m.captured(2) + QLatin1String(" - ");
        const int value = use(prefix + QLatin1String("value"));
        if (value < 0)
            continue;
        int label = use(prefix + QLatin1String("label"));
        if (label < 0)
            label = use(prefix + QLatin1String("type"));
        const QString kind = m.captured(1);
        QString base = headerNames_[i].section(u' ', 0, -4);
        if (kind == u"relation")
            base = QStringLiteral("Relation");
        else if (kind == u"event")
            base = QStringLiteral("Event");
        else if (kind == u"im")
            base = QStringLiteral("Messaging");
        // A custom field's label is its name: "Shoe size: 42".
        details_ += DetailColumn{kind == u"custom field" ? QString() : base,
                                 {},
                                 value,
                                 label,
                                 use(prefix + QLatin1String("service"))};
    }
}

void Layout::fixed(const QStringList &header) {
    for (int i = 0; i < header.size(); ++i) {
        if (used_[i])
            continue;
        if (const auto phone = fixedPhones().constFind(header[i]); phone != fixedPhones().cend()) {
            phones_ += PhoneColumn{use(header[i]), -1, *phone, phone->contains(u"pref")};
        } else if (const auto d = fixedDetails().constFind(header[i]); d != fixedDetails().cend()) {
            details_ += DetailColumn{*d, {}, use(header[i]), -1};
        }
    }
    const QList<std::pair<const char *, const char *>> prefixes = {
        {"home", "home"}, {"business", "work"}, {"work", "work"}, {"other", "other"}};
    for (const auto &[prefix, type] : prefixes) {
        AddressColumns a{QLatin1String(type), -1, -1, {}};
        for (const auto &[name, part] : addressParts)
            if (const int i = use(QLatin1String(prefix) + QLatin1String(name)); i >= 0)
                a.parts.append({i, part});
        if (!a.parts.isEmpty())
            addresses_ += a;
    }
}

std::optional<QString> Layout::build(const QStringList &header, const CsvMap &map) {
    for (const QString &h : header) {
        headerNames_ += h.trimmed();
        headers_ += h.trimmed().toLower();
        if (!index_.contains(headers_.last())) // the first of equal names counts
            index_.insert(headers_.last(), int(headers_.size() - 1));
    }
    used_ = QList<bool>(headers_.size(), false);
    const auto first = [this](std::initializer_list<const char *> names) {
        for (const char *name : names)
            if (const int i = use(QLatin1String(name)); i >= 0)
                return i;
        return -1;
    };
    given_ = first({"first name", "given name"});
    middle_ = first({"middle name", "additional name"});
    family_ = first({"last name", "family name"});
    formatted_ = first({"name", "display name", "full name"});
    prefix_ = first({"name prefix", "title"});
    suffix_ = first({"name suffix", "suffix"});
    note_ = first({"notes", "note"});
    birthYear_ = use(QStringLiteral("birth year"));
    birthMonth_ = use(QStringLiteral("birth month"));
    birthDay_ = use(QStringLiteral("birth day"));
    const bool known = given_ >= 0 || family_ >= 0 || formatted_ >= 0;
    numbered(headers_);
    fixed(headers_);
    if (!known && map.isEmpty())
        return QStringLiteral("unknown CSV header; use --map");

    int mappedPhones = 0;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString field = it.key().trimmed().toUpper();
        const int i = use(it.value().trimmed().toLower());
        if (field != u"NAME" && field != u"SURNAME" && field != u"PHONE1" && field != u"PHONE2" &&
            field != u"COMMENTS")
            return QStringLiteral("unknown field \"%1\" in the column map").arg(it.key());
        if (i < 0)
            return QStringLiteral("no column \"%1\" for %2").arg(it.value(), field);
        if (field == u"NAME") {
            given_ = i;
        } else if (field == u"SURNAME") {
            family_ = i;
        } else if (field == u"COMMENTS") {
            if (note_ >= 0 && note_ != i)
                extraNote_ = note_;
            note_ = i;
        } else {
            // Mapped phones come first, PHONE1 before PHONE2, whatever the order of the map.
            phones_.removeIf([i](const PhoneColumn &p) { return p.value == i; });
            const int at = field == u"PHONE1" ? 0 : mappedPhones;
            phones_.insert(at, PhoneColumn{i, -1, {}, true});
            ++mappedPhones;
        }
    }
    generic();
    for (int i = 0; i < used_.size(); ++i)
        if (!used_[i])
            leftovers_ += i;
    return std::nullopt;
}

Contact Layout::contact(const QStringList &fields) const {
    const auto get = [&fields](int i) { return i < 0 ? QString() : fields.value(i).trimmed(); };
    Contact c;
    c.given = get(given_);
    c.family = get(family_);
    c.formatted = get(formatted_);
    c.additional = get(middle_);
    c.prefix = get(prefix_);
    c.suffix = get(suffix_);
    // The note keeps line breaks at its start: an entry exported without a comment but with an
    // extra text has an empty first line, which must stay the (empty) comment.
    c.note = note_ < 0 ? QString() : fields.value(note_);
    while (!c.note.isEmpty() && c.note.back().isSpace())
        c.note.chop(1);
    while (c.note.startsWith(u' ') || c.note.startsWith(u'\t'))
        c.note.remove(0, 1);
    if (const QString more = get(extraNote_); !more.isEmpty())
        c.note += (c.note.isEmpty() ? QString() : QStringLiteral("\n")) + more;

    for (const PhoneColumn &p : phones_) {
        bool primary = false;
        const QString type = labelType(get(p.label), &primary);
        for (const QString &number : splitValues(get(p.value))) {
            Phone phone{number, p.types, p.preferred || primary};
            if (!type.isEmpty())
                phone.types += type;
            c.phones += phone;
        }
    }
    for (const DetailColumn &d : details_) {
        QString type = d.label >= 0 ? labelType(get(d.label)) : d.type;
        if (!get(d.service).isEmpty())
            type =
                type.isEmpty() ? get(d.service).toLower() : type + ", " + get(d.service).toLower();
        const QString base =
            d.base.isEmpty()
                ? (get(d.label).isEmpty() ? QStringLiteral("Custom field") : get(d.label))
                : d.base;
        if (d.base.isEmpty())
            type.clear();
        for (const QString &value : splitValues(get(d.value)))
            if (!noInformation(headers_[d.value], value))
                c.details += Detail{detailLabel(base, type), value};
    }
    if (const QString month = get(birthMonth_), day = get(birthDay_);
        !month.isEmpty() && !day.isEmpty()) {
        const QString year = get(birthYear_);
        c.details +=
            Detail{QStringLiteral("Birthday"), QStringLiteral("%1-%2-%3")
                                                   .arg(year.isEmpty() ? QStringLiteral("-") : year)
                                                   .arg(month.toInt(), 2, 10, QChar(u'0'))
                                                   .arg(day.toInt(), 2, 10, QChar(u'0'))};
    }
    for (const AddressColumns &a : addresses_) {
        // The parts when the file has them, else the formatted address as the street.
        Address address;
        for (const auto &[i, part] : a.parts)
            if (const QString v = get(i); !v.isEmpty())
                address[part] += (address[part].isEmpty() ? QString() : QStringLiteral(", ")) + v;
        if (std::all_of(address.cbegin(), address.cend(), std::mem_fn(&QString::isEmpty))) {
            QStringList lines = get(a.formatted).split(u'\n');
            for (QString &line : lines)
                line = line.trimmed();
            lines.removeAll(QString());
            address[Street] = lines.join(QLatin1String(", "));
        }
        if (const QString value = ReadableAddress(address); !value.isEmpty())
            c.details += Detail{detailLabel(QStringLiteral("Address"),
                                            a.label >= 0 ? labelType(get(a.label)) : a.type),
                                value};
    }
    for (const int i : leftovers_) {
        const QString value = get(i);
        if (value.isEmpty() || noInformation(headers_[i], value))
            continue;
        if (headers_[i] == u"photo") {
            c.notKept += QStringLiteral("Photo column not kept (%1)").arg(value.left(60));
        } else if (headers_[i] == u"labels" || headers_[i] == u"group membership" ||
                   headers_[i] == u"categories") {
            if (const QStringList groups = groupsOf(headers_[i], value); !groups.isEmpty())
                c.details += Detail{QStringLiteral("Groups"), JoinGroups(groups)};
        } else {
            c.details += Detail{headerNames_[i].isEmpty() ? QStringLiteral("Column %1").arg(i + 1)
                                                          : headerNames_[i],
                                value};
        }
    }
    return c;
}

} // namespace meridoc::cards::csv
