#include "sync_merge.h"

#include "entry_contact.h"
#include "export_entry.h"

#include "data/text.h"

#include <QCryptographicHash>

#include <algorithm>

namespace meridoc::cards {
namespace {

const char *const FieldNames[] = {"NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"};

QStringList sorted(QStringList lines) {
    lines.sort();
    return lines;
}

QString decoded(const QByteArray &field) {
    return text::fromCp1252(field);
}

// One heading for the contact's lines, first: a second one would start another person's lines,
// and lines before it would be read as every contact's of the text (a merge puts the lines one
// side kept before those the other side changed, a renamed contact's new heading among them).
QStringList oneHeading(const QStringList &lines) {
    QStringList out;
    bool headed = false;
    for (const QString &line : lines) {
        if (line.startsWith(FullNameHeading)) {
            if (headed)
                continue;
            headed = true;
            out.prepend(line);
            continue;
        }
        out += line;
    }
    return out;
}

// The type of the phone a view holds in PHONE1 or PHONE2: its "Phone N type" line, else the
// type such a phone has without one.
QString slotType(const QStringList &lines, int field) {
    const int slot = Field(field) == Field::PHONE1 ? 0 : 1;
    const QString prefix = QStringLiteral("Phone %1 type: ").arg(slot + 1);
    for (const QString &line : lines)
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return DefaultPhoneType(slot);
}

} // namespace

QString HeadingOf(const QStringList &lines) {
    for (const QString &line : lines)
        if (line.startsWith(FullNameHeading))
            return line;
    return {};
}

std::optional<Projection> ProjectionOfVCard(QByteArrayView bytes) {
    std::optional<Projection> p;
    readVCards(bytes, [&](Contact &&c) {
        p = ProjectionOfContact(c);
        return false;
    });
    return p;
}

QStringList LinesWithout(const QStringList &lines, QStringList other) {
    QStringList rest;
    for (const QString &line : lines)
        if (!other.removeOne(line))
            rest += line;
    return rest;
}

bool Projection::operator==(const Projection &other) const {
    return fields == other.fields && sorted(lines) == sorted(other.lines);
}

Projection ProjectionOfContact(const Contact &contact) {
    MappedEntry mapped = mapContact(contact);
    for (QByteArray &field : mapped.fields)
        for (char &c : field)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
    return {mapped.fields, mapped.extraLines};
}

Projection ProjectionOfEntry(const std::array<QByteArray, FieldCount> &fields,
                             const QString &extraText, const QString &id,
                             const EntryIdTaken &taken) {
    FieldViews views;
    for (int f = 0; f < FieldCount; ++f)
        views[f] = fields[f];
    return ProjectionOfContact(ContactOfEntry(views, extraText, id, taken));
}

QByteArray ProjectionHash(const Projection &projection) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QByteArray &field : projection.fields) {
        hash.addData(field);
        hash.addData(QByteArrayView("\x1f", 1));
    }
    for (const QString &line : sorted(projection.lines)) {
        hash.addData(line.toUtf8());
        hash.addData(QByteArrayView("\x1e", 1));
    }
    return hash.result().toHex().left(16);
}

MergeOutcome MergeProjections(const Projection *base, const Projection &mine,
                              const Projection &theirs, QDate today) {
    MergeOutcome out;
    Projection &result = out.result;
    QStringList kept; // lines keeping the other side's values
    const QString date = today.toString(Qt::ISODate);
    for (int f = 0; f < FieldCount; ++f) {
        const QByteArray &m = mine.fields[f], &t = theirs.fields[f];
        const bool mineChanged = !base || m != base->fields[f];
        const bool theirsChanged = !base || t != base->fields[f];
        result.fields[f] = theirsChanged && !mineChanged ? t : m;
        if (!mineChanged || !theirsChanged || m == t)
            continue;
        const QString name = QLatin1String(FieldNames[f]);
        if ((Field(f) == Field::PHONE1 || Field(f) == Field::PHONE2) && !t.isEmpty())
            kept += detailLabel(QStringLiteral("Phone"), slotType(theirs.lines, f)) +
                    QStringLiteral(": ") + decoded(t);
        // The line is read on both sides (the extra text and the phone's note): it names each
        // side rather than saying "here".
        kept += QStringLiteral("Sync conflict %1: %2 \"%3\" in MERIDOC, \"%4\" on the phone/server")
                    .arg(date, name, decoded(m), decoded(t));
        out.conflicts += QStringLiteral("%1 changed on both sides: kept \"%2\", and \"%3\" in the "
                                        "extra text")
                             .arg(name, decoded(m), decoded(t));
    }

    QStringList lines;
    if (base) {
        // Mine, less what theirs removed, and what theirs added.
        lines = LinesWithout(mine.lines, LinesWithout(base->lines, theirs.lines));
        lines += LinesWithout(LinesWithout(theirs.lines, base->lines), mine.lines);
    } else {
        lines = mine.lines + LinesWithout(theirs.lines, mine.lines);
    }
    lines = oneHeading(lines + kept);

    // The lines are read back as the card file would hold them, so that both sides are written
    // from the same view (a heading for new lines, a further phone in an empty PHONE2).
    const std::array<QByteArray, FieldCount> fields = result.fields;
    result = ProjectionOfEntry(fields, lines.join(u'\n'));
    return out;
}

} // namespace meridoc::cards
