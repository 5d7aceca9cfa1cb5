#include "vcard_patch.h"

#include "decoding.h"
#include "entry_contact.h"
#include "vcard_text.h"
#include "vcard_writer.h"

#include <QSet>

#include <optional>

namespace meridoc::cards {
namespace {

// The properties the card file holds, by the writer's names.
const QSet<QByteArray> &heldNames() {
    static const QSet<QByteArray> names = {"N",
                                           "FN",
                                           "TEL",
                                           "NOTE",
                                           "EMAIL",
                                           "ADR",
                                           "BDAY",
                                           "ANNIVERSARY",
                                           "ORG",
                                           "TITLE",
                                           "ROLE",
                                           "URL",
                                           "NICKNAME",
                                           "CATEGORIES",
                                           "KIND",
                                           "X-ABSHOWAS",
                                           "X-MERIDOC-COMMENTS"};
    return names;
}

struct Line {
    QByteArray raw;      // as written, folded, without the final line end
    QByteArray unfolded; // the logical line
    vcard::Property property;
    bool isProperty = false;
    bool dropped = false;
};

// A card's bytes as UTF-8, which it is patched and written in: a card in UTF-16 is turned into
// it (with UTF-8 lines among its UTF-16 ones no reader could take it any more).
QByteArray utf8Of(QByteArrayView card) {
    const decoding::Bom bom = decoding::detectBom(card);
    return bom == decoding::Bom::Utf16LE || bom == decoding::Bom::Utf16BE
               ? decoding::decodeInput(card).toUtf8()
               : card.sliced(decoding::bomLength(bom)).toByteArray();
}

QList<Line> linesOf(QByteArrayView bytes) {
    QList<Line> lines;
    bool afterBlank = false;
    for (QByteArray physical : bytes.toByteArray().split('\n')) {
        if (physical.endsWith('\r'))
            physical.chop(1);
        const bool indented = physical.startsWith(' ') || physical.startsWith('\t');
        if (!lines.isEmpty() && vcard::endsInSoftBreak(lines.last().unfolded)) {
            // A quoted-printable value goes on at the start of the next line, as the reader
            // takes it.
            lines.last().raw += "\r\n" + physical;
            lines.last().unfolded.chop(1);
            lines.last().unfolded += physical;
            afterBlank = false;
            continue;
        }
        if (!lines.isEmpty() && indented && !afterBlank) {
            lines.last().raw += "\r\n" + physical;
            lines.last().unfolded += physical.mid(1);
        } else if (indented && afterBlank) {
            // The reader continues no line across a blank one: an indented line after it is a
            // line of its own, and keeps the blank line before it so that it stays one.
            lines.append(Line{"\r\n" + physical, physical, {}, false, false});
        } else if (!physical.isEmpty()) {
            lines.append(Line{physical, physical, {}, false, false});
        }
        afterBlank = physical.isEmpty();
    }
    for (Line &line : lines)
        line.isProperty = vcard::parseProperty(line.unfolded, line.property);
    return lines;
}

// A value as compared: unescaped, without the blanks and empty components at its ends, a phone
// number without "tel:".
QString comparable(const vcard::Property &p) {
    QString value = vcard::unescape(QString::fromUtf8(p.value)).trimmed();
    if (p.name == "TEL" && value.startsWith(QLatin1String("tel:")))
        value = value.mid(4);
    while (value.endsWith(u';'))
        value.chop(1);
    return value;
}

// The line of `old` with the value of `fresh`: group and parameters kept.
QByteArray withValue(const Line &old, const Line &fresh) {
    const vcard::Property &p = old.property;
    const qsizetype headLength = old.unfolded.size() - p.value.size() - 1;
    QByteArray head = old.unfolded.first(headLength);
    // The new value is plain text: an encoding, a character set or a URI value type no longer
    // applies to it.
    const auto stale = [](const vcard::Param &x) {
        return x.name == "ENCODING" || x.name == "CHARSET" || x.name == "VALUE";
    };
    if (std::any_of(p.params.begin(), p.params.end(), stale)) {
        head = (p.group.isEmpty() ? QByteArray() : p.group + '.') + p.name;
        for (const vcard::Param &x : p.params)
            if (!stale(x))
                head += ';' + x.name + '=' + x.values.join(',');
    }
    return FoldLine(head + ':' + fresh.property.value).chopped(2);
}

bool isVersion4(const QList<Line> &lines) {
    for (const Line &l : lines)
        if (l.isProperty && l.property.name == "VERSION")
            return l.property.value.trimmed() == "4.0";
    return false;
}

// The lines the old card's properties without a place in the card file stand for in the
// extra text (an IMPP's "IM (skype): ..."), so that the NOTE does not repeat them.
QStringList linesOfOtherProperties(const QList<Line> &lines) {
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    for (const Line &l : lines)
        if (l.isProperty && !heldNames().contains(l.property.name) && l.property.name != "BEGIN" &&
            l.property.name != "END" && l.property.name != "VERSION")
            card += l.unfolded + "\r\n";
    card += "END:VCARD\r\n";
    QStringList found;
    readVCards(card, [&](Contact &&c) {
        for (const QString &line : mapContact(c).extraLines)
            if (!line.startsWith(FullNameHeading))
                found += line;
        return false;
    });
    return found;
}

} // namespace

QByteArray VCardOfProjection(const Projection &projection, const QString &uid, bool version4) {
    FieldViews views;
    for (int f = 0; f < FieldCount; ++f)
        views[f] = projection.fields[f];
    QByteArray out;
    AppendVCard(out, ContactOfEntry(views, projection.lines.join(u'\n')), uid.toUtf8(),
                version4 ? VCardVersion::V4 : VCardVersion::V3);
    return out;
}

namespace {

// The old card's lines with the held properties' lines of `fresh`. Each held property's lines
// take the place of its first old line, in the fresh card's order (PHONE1's number first); with
// `reuse`, a line whose value the old card has keeps its old line (group and parameters), and a
// changed value takes an old line's place keeping its group and parameters.
QByteArray patched(QList<Line> lines, const QList<Line> &fresh, bool reuse) {
    QList<QByteArray> atEnd;                // lines of properties the old card lacks
    QHash<qsizetype, QList<QByteArray>> at; // the lines a property puts at its first old line
    QSet<QByteArray> droppedGroups;
    QList<QByteArray> names; // in the fresh card's order
    for (const QList<Line> *card : {&fresh, static_cast<const QList<Line> *>(&lines)})
        for (const Line &l : *card)
            if (l.isProperty && heldNames().contains(l.property.name) &&
                !names.contains(l.property.name))
                names += l.property.name;
    for (const QByteArray &name : std::as_const(names)) {
        QList<qsizetype> olds, news;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].isProperty && lines[i].property.name == name)
                olds += i;
        for (qsizetype i = 0; i < fresh.size(); ++i)
            if (fresh[i].isProperty && fresh[i].property.name == name)
                news += i;
        QList<QByteArray> raws(news.size());
        QList<qsizetype> unused = olds;
        if (reuse) {
            for (qsizetype k = 0; k < news.size(); ++k) {
                const QString value = comparable(fresh[news[k]].property);
                const auto same = std::find_if(unused.begin(), unused.end(), [&](qsizetype o) {
                    return comparable(lines[o].property) == value;
                });
                if (same != unused.end()) {
                    raws[k] = lines[*same].raw;
                    unused.erase(same);
                }
            }
        }
        for (qsizetype k = 0; k < news.size(); ++k) {
            if (!raws[k].isNull())
                continue;
            if (reuse && !unused.isEmpty())
                raws[k] = withValue(lines[unused.takeFirst()], fresh[news[k]]);
            else
                raws[k] = fresh[news[k]].raw;
        }
        for (qsizetype o : unused)
            if (!lines[o].property.group.isEmpty())
                droppedGroups.insert(lines[o].property.group);
        for (qsizetype o : olds)
            lines[o].dropped = true;
        if (olds.isEmpty())
            atEnd += raws;
        else
            at[olds.first()] = raws;
    }
    // A group's labels go with the value they labelled.
    for (Line &l : lines)
        if (l.isProperty && droppedGroups.contains(l.property.group) &&
            !heldNames().contains(l.property.name))
            l.dropped = true;

    QByteArray out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i == lines.size() - 1)
            for (const QByteArray &raw : atEnd)
                out += raw + "\r\n";
        for (const QByteArray &raw : at.value(i))
            out += raw + "\r\n";
        if (!lines[i].dropped)
            out += lines[i].raw + "\r\n";
    }
    return out;
}

} // namespace

std::optional<QByteArray> PatchVCard(QByteArrayView old, const Projection &target) {
    const QList<Line> lines = linesOf(utf8Of(old));
    int begins = 0;
    QString uid;
    for (const Line &l : lines) {
        if (l.isProperty && l.property.name == "BEGIN")
            ++begins;
        if (l.isProperty && l.property.name == "UID" && uid.isEmpty())
            uid = QString::fromUtf8(l.property.value.trimmed());
    }
    if (begins != 1 || lines.isEmpty() || !lines.last().isProperty ||
        lines.last().property.name != "END")
        return std::nullopt;

    Projection written = target;
    for (const QString &line : linesOfOtherProperties(lines))
        written.lines.removeAll(line);
    const QList<Line> fresh = linesOf(VCardOfProjection(written, uid, isVersion4(lines)));
    // Old lines are kept where the card then still says what the card file holds (an old line's
    // type can put its number first); where not, the held properties are written anew.
    const QByteArray kept = patched(lines, fresh, true);
    return ProjectionOfVCard(kept) == target ? kept : patched(lines, fresh, false);
}

} // namespace meridoc::cards

namespace meridoc::cards {
namespace {

// A property of a card as merged: a line without a group, or the lines of one group (a value
// and its labels), named by the group's first property.
struct Unit {
    QByteArray name;
    QByteArray text; // its lines without the group, one after the other
    QList<qsizetype> lines;
};

// The units of the properties the card file has no place for; the lines a card holds once
// (its UID, version, maker and revision) stay as the patched card has them.
QList<Unit> otherUnits(const QList<Line> &lines) {
    static const QSet<QByteArray> once = {"BEGIN", "END", "VERSION", "UID", "PRODID", "REV"};
    QList<Unit> units;
    QHash<QByteArray, qsizetype> unitOfGroup;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const vcard::Property &p = lines[i].property;
        if (!lines[i].isProperty)
            continue;
        qsizetype u = p.group.isEmpty() ? -1 : unitOfGroup.value(p.group, -1);
        if (u < 0) {
            u = units.size();
            units.append(Unit{p.name, {}, {}});
            if (!p.group.isEmpty())
                unitOfGroup.insert(p.group, u);
        }
        units[u].lines += i;
        units[u].text += lines[i].unfolded.mid(p.group.isEmpty() ? 0 : p.group.size() + 1) + '\n';
    }
    QList<Unit> others;
    for (const Unit &u : std::as_const(units))
        if (!heldNames().contains(u.name) && !once.contains(u.name))
            others += u;
    return others;
}

// The texts of the units of one name, sorted: the property as one side holds it.
QList<QByteArray> textsOf(const QList<Unit> &units, const QByteArray &name) {
    QList<QByteArray> texts;
    for (const Unit &u : units)
        if (u.name == name)
            texts += u.text;
    std::sort(texts.begin(), texts.end());
    return texts;
}

// A group name the card does not use yet.
QByteArray freeGroup(const QSet<QByteArray> &used) {
    for (int n = 1;; ++n)
        if (const QByteArray g = "item" + QByteArray::number(n); !used.contains(g))
            return g;
}

} // namespace

QByteArray MergeOtherProperties(QByteArrayView mine, QByteArrayView theirs,
                                std::optional<QByteArrayView> base) {
    QList<Line> out = linesOf(utf8Of(theirs));
    const QList<Line> mineLines = linesOf(utf8Of(mine));
    const QList<Line> baseLines = base ? linesOf(utf8Of(*base)) : QList<Line>();
    const QList<Unit> mineUnits = otherUnits(mineLines), theirUnits = otherUnits(out),
                      baseUnits = otherUnits(baseLines);
    QList<QByteArray> names;
    for (const QList<Unit> *units : {&mineUnits, &theirUnits})
        for (const Unit &u : *units)
            if (!names.contains(u.name))
                names += u.name;
    QList<const Unit *> added;
    for (const QByteArray &name : std::as_const(names)) {
        const QList<QByteArray> m = textsOf(mineUnits, name), t = textsOf(theirUnits, name);
        if (m == t || (base && m == textsOf(baseUnits, name)))
            continue; // the same, or changed on their side only
        // Changed on my side only: mine replace theirs. Otherwise both are kept.
        const bool mineOnly = base && t == textsOf(baseUnits, name);
        for (const Unit &u : theirUnits)
            if (u.name == name && mineOnly)
                for (qsizetype i : u.lines)
                    out[i].dropped = true;
        for (const Unit &u : mineUnits)
            if (u.name == name && (mineOnly || !t.contains(u.text)))
                added += &u;
    }
    QSet<QByteArray> groups;
    for (const Line &l : std::as_const(out))
        if (l.isProperty && !l.dropped && !l.property.group.isEmpty())
            groups.insert(l.property.group);
    QByteArray bytes;
    for (qsizetype i = 0; i + 1 < out.size(); ++i)
        if (!out[i].dropped)
            bytes += out[i].raw + "\r\n";
    for (const Unit *u : std::as_const(added)) {
        const QByteArray group = mineLines[u->lines.first()].property.group;
        // A group of theirs of the same name is another value's: mine gets a name of its own.
        const QByteArray renamed =
            group.isEmpty() || !groups.contains(group) ? group : freeGroup(groups);
        groups.insert(renamed);
        for (qsizetype i : u->lines)
            bytes += renamed == group ? mineLines[i].raw + "\r\n"
                                      : FoldLine(renamed + mineLines[i].unfolded.mid(group.size()));
    }
    if (!out.isEmpty())
        bytes += out.last().raw + "\r\n";
    return bytes;
}

} // namespace meridoc::cards
