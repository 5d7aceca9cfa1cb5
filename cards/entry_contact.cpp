#include "entry_contact.h"

#include "detail_values.h"

#include "data/text.h"

#include <QRegularExpression>

#include <array>
#include <optional>

namespace meridoc::cards {
namespace {

// The details with a property of their own, by the base of their label.
const QStringList &detailBases() {
    static const QStringList bases = {QStringLiteral("E-mail"),       QStringLiteral("Address"),
                                      QStringLiteral("Birthday"),     QStringLiteral("Anniversary"),
                                      QStringLiteral("Organisation"), QStringLiteral("Title"),
                                      QStringLiteral("Role"),         QStringLiteral("Web"),
                                      QStringLiteral("Nickname"),     QStringLiteral("Groups")};
    return bases;
}

struct Labelled {
    QString base, type, value;
};

// "Base (type): value", or nothing for a line of another form.
std::optional<Labelled> labelled(const QString &line) {
    static const QRegularExpression pattern(
        QStringLiteral("^([A-Z][A-Za-z0-9 -]*?)(?: \\(([^()]*)\\))?: (.*)$"));
    const auto m = pattern.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    return Labelled{m.captured(1), m.captured(2), m.captured(3)};
}

QString decoded(QByteArrayView field) {
    return text::fromCp1252(TrimmedBytes(field).toByteArray());
}

bool holds(QByteArrayView field, Field which, const QString &value) {
    return FieldBytes(which, value) == TrimmedBytes(field);
}

// The value of the first line labelled `label`, if any.
std::optional<QString> valueOf(const QStringList &lines, const QString &label) {
    const QString prefix = label + QStringLiteral(": ");
    for (const QString &line : lines)
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return std::nullopt;
}

// Whether a contact's lines (headed by its full name) belong to the entry: a name they give in
// full must still be what the record holds, and one they do not give must be in the heading.
bool belongs(const QStringList &section, const FieldViews &fields) {
    const QString heading = section.first().mid(11);
    for (const auto &[label, field] :
         {std::pair{"Name", Field::NAME}, {"Surname", Field::SURNAME}}) {
        const QByteArrayView bytes = fields[int(field)];
        if (const auto written = valueOf(section, QLatin1String(label))) {
            if (!holds(bytes, field, *written))
                return false;
        } else if (!heading.contains(decoded(bytes))) {
            return false;
        }
    }
    return true;
}

// The entry identity a contact's lines carry, empty when they carry none.
QString idOf(const QStringList &section) {
    return section.size() > 1 && section[1].startsWith(EntryIdLabel)
               ? text::trimmed(section[1].mid(EntryIdLabel.size()))
               : QString();
}

// The lines of the text that are the entry's: those before the first heading, then the lines of
// its own contact (OwnSection).
QStringList linesOf(const QString &extraText, const FieldViews &fields, const QString &id,
                    bool *ambiguous = nullptr, const EntryIdTaken &taken = {}) {
    const QStringList all = extraText.split(u'\n');
    QStringList mine;
    QList<QStringList> sections;
    for (const QString &line : all) {
        if (line.startsWith(FullNameHeading))
            sections.append({line});
        else if (sections.isEmpty())
            mine += line;
        else
            sections.last() += line;
    }
    bool unclear = false;
    const int own = OwnSection(sections, fields, id, &unclear, taken);
    if (ambiguous)
        *ambiguous = unclear;
    return own >= 0 ? sections[own] + mine : mine;
}

} // namespace

QString LabelBase(const QString &line) {
    const auto l = labelled(line);
    return l ? l->base : QString();
}

bool HasProperty(const QString &label) {
    const auto l = labelled(label + QStringLiteral(": "));
    return l && detailBases().contains(l->base);
}

int OwnSection(const QList<QStringList> &sections, const FieldViews &fields, const QString &id,
               bool *ambiguous, const EntryIdTaken &taken) {
    int only = -1, unmarked = -1, belonging = 0, unmarkedCount = 0;
    for (int i = 0; i < sections.size(); ++i) {
        const QString sectionId = idOf(sections[i]);
        if (!sectionId.isEmpty() && sectionId == id)
            return i;
        if (!belongs(sections[i], fields) || (!sectionId.isEmpty() && taken && taken(sectionId)))
            continue;
        only = i;
        ++belonging;
        if (sectionId.isEmpty()) {
            unmarked = i;
            ++unmarkedCount;
        }
    }
    if (belonging == 1)
        return only;
    if (unmarkedCount == 1)
        return unmarked;
    if (ambiguous)
        *ambiguous = belonging > 1;
    return -1;
}

QString EntryIdOf(const FieldViews &fields) {
    const UidText id = EntryUidText(fields);
    return QString::fromLatin1(id.data(), qsizetype(id.size()));
}

bool LinesAreAmbiguous(const FieldViews &fields, const QString &extraText, const QString &id,
                       const EntryIdTaken &taken) {
    bool ambiguous = false;
    if (!extraText.isEmpty())
        linesOf(extraText, fields, id.isEmpty() ? EntryIdOf(fields) : id, &ambiguous, taken);
    return ambiguous;
}

Contact ContactOfEntry(const FieldViews &fields, const QString &extraText, const QString &id,
                       const EntryIdTaken &taken) {
    Contact c;
    c.given = decoded(fields[int(Field::NAME)]);
    c.family = decoded(fields[int(Field::SURNAME)]);
    QString comment = decoded(fields[int(Field::COMMENTS)]);
    std::array<std::optional<Phone>, 2> recordPhones; // PHONE1 and PHONE2, when they hold one
    for (const Field f : {Field::PHONE1, Field::PHONE2}) {
        const int slot = f == Field::PHONE1 ? 0 : 1;
        if (const QString number = decoded(fields[int(f)]); !number.isEmpty())
            recordPhones[slot] = Phone{number, {DefaultPhoneType(slot)}, false};
    }

    QStringList rest;
    QString organisation;
    if (!extraText.isEmpty()) {
        for (const QString &line :
             linesOf(extraText, fields, id.isEmpty() ? EntryIdOf(fields) : id, nullptr, taken)) {
            const auto l = labelled(line);
            const auto field = [&](Field f, QString &target) {
                if (holds(fields[int(f)], f, l->value))
                    target = l->value;
                else
                    rest += line;
            };
            if (!l) {
                rest += line;
            } else if (l->base == u"Entry ID" && l->type.isEmpty()) {
                continue; // the contact's identity in the text, not a detail of it
            } else if (l->base == u"Full name" && l->type.isEmpty()) {
                c.formatted = l->value;
            } else if (l->base == u"Name" && l->type.isEmpty()) {
                field(Field::NAME, c.given);
            } else if (l->base == u"Surname" && l->type.isEmpty()) {
                field(Field::SURNAME, c.family);
            } else if (l->base == u"Note" && l->type.isEmpty()) {
                field(Field::COMMENTS, comment);
            } else if (l->base == u"Middle name") {
                c.additional = l->value;
            } else if (l->base == u"Name prefix") {
                c.prefix = l->value;
            } else if (l->base == u"Name suffix") {
                c.suffix = l->value;
            } else if (l->base == u"Phone 1 type" || l->base == u"Phone 2 type") {
                if (auto &phone = recordPhones[l->base == u"Phone 1 type" ? 0 : 1])
                    phone->types = l->value.split(QStringLiteral(", "));
            } else if (l->base == u"Phone") {
                c.phones.append(Phone{l->value, l->type.split(QStringLiteral(", ")), false});
                c.phones.last().types.removeAll(QString());
            } else if (l->base == u"Birthday" || l->base == u"Anniversary") {
                // Another program's form of a date, or an earlier version's, in one form; what
                // is no date stays text, with no date property.
                if (const auto date = ParseDate(l->value))
                    c.details.append(Detail{detailLabel(l->base, l->type), ReadableDate(*date)});
                else
                    rest += line;
            } else if (detailBases().contains(l->base)) {
                c.details.append(Detail{detailLabel(l->base, l->type), l->value});
                if (l->base == u"Organisation" && organisation.isEmpty())
                    organisation = l->value;
            } else {
                rest += line;
            }
        }
    }
    for (auto phone = recordPhones.rbegin(); phone != recordPhones.rend(); ++phone)
        if (*phone)
            c.phones.prepend(**phone);
    c.organisation = c.given.isEmpty() && !organisation.isEmpty() &&
                     holds(fields[int(Field::SURNAME)], Field::SURNAME, organisation);
    if (c.organisation)
        c.family.clear();
    while (!rest.isEmpty() && rest.first().trimmed().isEmpty())
        rest.removeFirst();
    while (!rest.isEmpty() && rest.last().trimmed().isEmpty())
        rest.removeLast();
    c.comments = comment;
    c.note = rest.isEmpty()      ? comment
             : comment.isEmpty() ? rest.join(u'\n')
                                 : comment + u'\n' + rest.join(u'\n');
    if (c.formatted.isEmpty())
        c.formatted = c.organisation ? organisation : text::trimmed(c.given + u' ' + c.family);
    return c;
}

} // namespace meridoc::cards
