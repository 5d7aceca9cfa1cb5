#include "contact.h"
#include "detail_values.h"

#include "data/entryrecord.h"
#include "data/text.h"
#include "data/transliteration.h"

#include <QVarLengthArray>

#include <algorithm>

// Fitting a contact into the five fields of an entry. Nothing is dropped silently: whatever does
// not fit a field, or has no field, becomes a readable line for the person's extra text and a
// remark in `losses`.
namespace meridoc::cards {

namespace {

// A field holds one line: line breaks and tabs become spaces, and the ends are trimmed.
QString singleLine(QString s) {
    const auto isBreak = [](QChar c) { return c == u'\n' || c == u'\r' || c == u'\t'; };
    if (std::any_of(s.cbegin(), s.cend(), isBreak)) // the string is copied only then
        std::replace_if(s.begin(), s.end(), isBreak, QChar(u' '));
    return s.trimmed();
}

QString ordinal(int n) {
    const int lastTwo = n % 100;
    const char *suffix = "th";
    if (lastTwo < 11 || lastTwo > 13)
        suffix = n % 10 == 1 ? "st" : n % 10 == 2 ? "nd" : n % 10 == 3 ? "rd" : "th";
    return QString::number(n) + QLatin1String(suffix);
}

// Phones in the order PHONE1 and PHONE2 take them: preferred or mobile, home, work, the rest.
int phoneClass(const Phone &phone) {
    const auto has = [&](const char *type) { return phone.types.contains(QLatin1String(type)); };
    if (phone.preferred || has("pref"))
        return 0;
    // A fax or pager number is no number to call a person on, whatever its place.
    if (has("fax") || has("pager"))
        return 3;
    if (has("cell") || has("mobile") || has("iphone"))
        return 0;
    if (has("home"))
        return 1;
    if (has("work"))
        return 2;
    return 3;
}

// The types a phone's label names ("cell" as "mobile"); voice, pref and other tell nothing.
QString phoneTypes(const Phone &phone) {
    const auto named = [](const QString &t) {
        return !(t.isEmpty() || t == u"voice" || t == u"pref" || t == u"other");
    };
    const auto spoken = [](const QString &t) {
        return t == u"cell" ? QStringLiteral("mobile") : t;
    };
    if (phone.types.size() <= 1) // most phones: no list to build
        return phone.types.isEmpty() || !named(phone.types[0]) ? QString() : spoken(phone.types[0]);
    QStringList kept;
    for (const QString &t : phone.types)
        if (named(t) && !kept.contains(spoken(t)))
            kept += spoken(t);
    return kept.join(QLatin1String(", "));
}

bool isDateLabel(const QString &label) {
    return label == u"Birthday" || label == u"Anniversary";
}

QString phoneLabel(const Phone &phone) {
    return detailLabel(QStringLiteral("Phone"), phoneTypes(phone));
}

class Fitter {
public:
    MappedEntry entry;
    QStringList noteLines, nameLines, phoneLines, emailLines, addressLines, otherLines;

    // Stores `value` in the field; when the field cannot hold it whole, the whole value goes to
    // `overflow` as "label: value" (`label()` gives the label) and each loss is remarked.
    template <typename Label>
    void fit(Field field, const char *fieldName, const QString &value, QStringList &overflow,
             const Label &label) {
        const int max = EntryRecord::maxLength(field);
        bool unencodable = false;
        const QByteArray bytes = toCp1252Latin(value, &unencodable);
        const bool cut = bytes.size() > max;
        // A cut can end on a space, which the field must not keep: the extra-text file's name is
        // built from NAME and SURNAME, and the viewer looks for it trimmed.
        entry.fields[static_cast<int>(field)] = cut ? text::trimmed(bytes.left(max)) : bytes;
        if (cut)
            entry.losses += QStringLiteral("%1 cut to %2").arg(QLatin1String(fieldName)).arg(max);
        if (unencodable)
            entry.losses +=
                QStringLiteral("%1 written in Latin letters").arg(QLatin1String(fieldName));
        if (cut || unencodable)
            overflow += label() + QStringLiteral(": ") + value;
    }
};

QString joinedName(const Contact &c) {
    QStringList parts = {c.prefix, c.given, c.additional, c.family, c.suffix};
    for (QString &p : parts)
        p = singleLine(p);
    parts.removeAll(QString());
    return parts.join(u' ');
}

} // namespace

QByteArray FieldBytes(Field field, const QString &value) {
    const QByteArray bytes = toCp1252Latin(value);
    const int max = EntryRecord::maxLength(field);
    return bytes.size() > max ? text::trimmed(bytes.left(max)) : bytes;
}

QString detailLabel(const QString &base, const QString &type) {
    return type.isEmpty() ? base : QStringLiteral("%1 (%2)").arg(base, type);
}

MappedEntry mapContact(const Contact &contact) {
    Fitter f;

    QString given = singleLine(contact.given);
    QString family = singleLine(contact.family);
    QString organisation;
    for (const Detail &d : contact.details)
        if (d.label == u"Organisation" && organisation.isEmpty())
            organisation = singleLine(d.value);
    QString fullName = singleLine(contact.formatted);
    if (fullName.isEmpty())
        fullName = joinedName(contact);
    // A company's card: marked as one, or named only by its organisation. It is found under
    // its name as the surname, as the organisation of a card without a name is.
    const bool company =
        contact.organisation || (given.isEmpty() && family.isEmpty() && !organisation.isEmpty() &&
                                 (fullName.isEmpty() || fullName == organisation));
    if (company) {
        given.clear();
        family = organisation.isEmpty() ? fullName : organisation;
        if (fullName.isEmpty())
            fullName = family;
    }
    if (given.isEmpty() && family.isEmpty()) {
        // Only a formatted name: its last word is the surname, the words before it the name.
        QStringList words = singleLine(contact.formatted).split(u' ', Qt::SkipEmptyParts);
        if (!words.isEmpty())
            family = words.takeLast();
        given = words.join(u' ');
    }
    f.fit(Field::NAME, "NAME", given, f.nameLines, [] { return QStringLiteral("Name"); });
    f.fit(Field::SURNAME, "SURNAME", family, f.nameLines, [] { return QStringLiteral("Surname"); });
    for (const auto &[part, label] :
         {std::pair{&contact.additional, "Middle name"}, std::pair{&contact.prefix, "Name prefix"},
          std::pair{&contact.suffix, "Name suffix"}})
        if (!singleLine(*part).isEmpty())
            f.nameLines += QLatin1String(label) + QStringLiteral(": ") + singleLine(*part);

    // The phones with a number, each with its number as a field holds it.
    QVarLengthArray<std::pair<const Phone *, QString>, 4> phones;
    for (const Phone &p : contact.phones)
        if (QString number = singleLine(p.number); !number.isEmpty())
            phones.append({&p, std::move(number)});
    const auto byClass = [](const auto &a, const auto &b) {
        return phoneClass(*a.first) < phoneClass(*b.first);
    };
    if (!std::is_sorted(phones.begin(), phones.end(), byClass)) // usually they are
        std::stable_sort(phones.begin(), phones.end(), byClass);
    // A home number alone takes PHONE2, the home number's place, and PHONE1 stays empty: an
    // entry with only PHONE2 comes back from its vCard as it was.
    const int firstSlot = phones.size() == 1 && phoneClass(*phones[0].first) == 1 &&
                                  phoneTypes(*phones[0].first) == DefaultPhoneType(1)
                              ? 1
                              : 0;
    QStringList phoneTypeLines;
    for (int i = 0; i < phones.size(); ++i) {
        const Phone &phone = *phones[i].first;
        const QString &number = phones[i].second;
        const int slot = i + firstSlot;
        if (const QString types = slot < 2 ? phoneTypes(phone) : QString();
            !types.isEmpty() && types != DefaultPhoneType(slot))
            phoneTypeLines += QStringLiteral("Phone %1 type: %2").arg(slot + 1).arg(types);
        if (slot < 2) {
            const Field field = slot == 0 ? Field::PHONE1 : Field::PHONE2;
            f.fit(field, slot == 0 ? "PHONE1" : "PHONE2", number, f.phoneLines,
                  [&] { return phoneLabel(phone); });
        } else {
            f.phoneLines += phoneLabel(phone) + QStringLiteral(": ") + number;
            f.entry.losses +=
                QStringLiteral("%1 phone moved to the extra text").arg(ordinal(i + 1));
        }
    }

    QStringList noteLines;
    if (contact.note.contains(u'\n') || contact.note.contains(u'\r')) {
        QString note = contact.note;
        note.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
        noteLines = note.split(u'\n');
    } else if (!contact.note.isEmpty()) { // a note of one line, as most are
        noteLines = {contact.note};
    }
    while (!noteLines.isEmpty() && noteLines.last().trimmed().isEmpty())
        noteLines.removeLast();
    if (contact.comments) {
        // The comment given on its own: the note is the rest of the text, after the comment
        // when it repeats it.
        f.fit(Field::COMMENTS, "COMMENTS", singleLine(*contact.comments), f.noteLines,
              [] { return QStringLiteral("Note"); });
        if (!contact.comments->isEmpty() && !noteLines.isEmpty() &&
            noteLines.first() == *contact.comments)
            noteLines.removeFirst();
        while (!noteLines.isEmpty() && noteLines.first().trimmed().isEmpty())
            noteLines.removeFirst();
        f.noteLines += noteLines;
    } else if (!noteLines.isEmpty()) {
        f.fit(Field::COMMENTS, "COMMENTS", singleLine(noteLines.takeFirst()), f.noteLines,
              [] { return QStringLiteral("Note"); });
        if (!noteLines.isEmpty())
            f.entry.losses += noteLines.size() == 1
                                  ? QStringLiteral("1 further note line moved to the extra text")
                                  : QStringLiteral("%1 further note lines moved to the extra text")
                                        .arg(noteLines.size());
        f.noteLines += noteLines;
    }

    for (const Detail &d : contact.details) {
        QString value = d.value.trimmed();
        value.replace(QLatin1String("\r\n"), QLatin1String(", "))
            .replace(u'\n', QLatin1String(", "));
        if (value.isEmpty())
            continue;
        if (isDateLabel(d.label)) {
            // Every source's form of a date shown in one; what is no date stays as written,
            // and never becomes one on export.
            if (const auto date = ParseDate(value))
                value = ReadableDate(*date);
            else
                f.entry.losses +=
                    QStringLiteral("%1 \"%2\" is not a date: kept as text").arg(d.label, value);
        }
        QStringList &lines = d.label.startsWith(QLatin1String("E-mail"))    ? f.emailLines
                             : d.label.startsWith(QLatin1String("Address")) ? f.addressLines
                                                                            : f.otherLines;
        lines += d.label + QStringLiteral(": ") + value;
        f.entry.losses += d.label + QStringLiteral(" moved to the extra text");
    }

    f.entry.losses += contact.notKept;
    f.entry.fullName = fullName;
    // The types of the record's phones are remembered in the extra text, the record having no
    // room for them, unless they are the ones an entry's phones have without a line.
    f.entry.extraLines = f.noteLines + f.nameLines + phoneTypeLines + f.phoneLines + f.emailLines +
                         f.addressLines + f.otherLines;
    if (!f.entry.extraLines.isEmpty())
        f.entry.extraLines.prepend(FullNameHeading + fullName);
    return std::move(f.entry);
}

} // namespace meridoc::cards
