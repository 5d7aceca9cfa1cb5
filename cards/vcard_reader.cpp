#include "contact.h"
#include "decoding.h"
#include "detail_values.h"
#include "input_text.h"
#include "vcard_text.h"

#include <QLocale>

// vCard 2.1 (the older format phones still write), 3.0 (RFC 2426) and 4.0 (RFC 6350). The reader is
// lenient where writers differ and strict where a mistake would lose or corrupt data silently.
namespace meridoc::cards {

namespace {

using vcard::Lines;
using vcard::Property;

// Types as lower-case names: TYPE=HOME,WORK, bare 2.1 parameters, and an address book's label
// "_$!<Mobile>!$_" reduced to "mobile".
QString typeName(const QByteArray &raw) {
    QString t = QString::fromUtf8(raw).trimmed();
    if (t.startsWith(QLatin1String("_$!<")) && t.endsWith(QLatin1String(">!$_")))
        t = t.mid(4, t.size() - 8);
    return t.toLower();
}

QStringList typesOf(const Property &property) {
    QStringList types;
    for (const QByteArray &t : property.param("TYPE"))
        types += typeName(t);
    return types;
}

// The types worth a label on a detail ("home", "work", ...): not the ones every value has.
QString detailType(const QStringList &types) {
    QStringList kept;
    for (const QString &t : types)
        if (t != u"internet" && t != u"pref" && t != u"voice" && t != u"x400" && t != u"postal" &&
            t != u"parcel" && t != u"dom" && t != u"intl" && !kept.contains(t))
            kept += t;
    return kept.join(QLatin1String(", "));
}

QString readableDate(const QString &value) {
    const auto date = ParseDate(value);
    return date ? ReadableDate(*date) : value;
}

// A detail that may be relabelled by its group's X-ABLabel.
struct PendingDetail {
    QString base; // "E-mail", "Address", ...
    QString type;
    QString value;
    QByteArray group;
};

// One card being read.
class Card {
public:
    explicit Card(int line) { contact_.line = line; }
    int line() const { return contact_.line; }

    // Takes one property; returns a reason when its value cannot be decoded.
    std::optional<QString> add(const Property &p, bool utf8) {
        const QByteArray &n = p.name;
        // What describes the card rather than the person; the group labels are read below.
        if (n == "VERSION" || n == "PRODID" || n == "REV" || n == "X-ABUID" || n == "X-ABADR" ||
            n == "CLIENTPIDMAP")
            return std::nullopt;
        if (n == "PHOTO" || n == "LOGO" || n == "SOUND" || n == "KEY") {
            keepLink(p);
            return std::nullopt;
        }
        QByteArray raw = p.value;
        if (p.quotedPrintable()) {
            auto decoded = vcard::decodeQuotedPrintable(raw);
            if (!decoded)
                return QStringLiteral("invalid quoted-printable in %1").arg(QString::fromLatin1(n));
            raw = *decoded;
        } else if (p.base64()) {
            raw = QByteArray::fromBase64(raw);
        }
        QString value;
        const auto charset = p.param("CHARSET");
        if (!charset.isEmpty()) {
            auto decoded = decoding::decodeCharset(raw, charset.first());
            if (!decoded)
                return QStringLiteral("unknown charset %1")
                    .arg(QString::fromLatin1(charset.first()));
            value = *decoded;
        } else {
            value = decoding::decodeDefault(raw, utf8);
        }
        value.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
        take(p, value);
        return std::nullopt;
    }

    Contact finish() {
        for (const PendingDetail &d : details_) {
            QString type = d.type;
            if (!d.group.isEmpty() && labels_.contains(d.group))
                type = labels_.value(d.group);
            contact_.details += Detail{detailLabel(d.base, type), d.value};
        }
        if (!hasAddress_)
            for (const PendingDetail &d : addressLabels_)
                contact_.details += Detail{detailLabel(d.base, d.type), d.value};
        for (const auto &[group, index] : groupedPhones_)
            if (labels_.contains(group))
                contact_.phones[index].types += labels_.value(group);
        contact_.note = notes_.join(u'\n');
        return std::move(contact_);
    }

private:
    void detail(const QString &base, const QString &type, const QString &value,
                const QByteArray &group) {
        if (!value.trimmed().isEmpty())
            details_ += PendingDetail{base, type, value.trimmed(), group};
    }

    void take(const Property &p, const QString &value) {
        const QByteArray &n = p.name;
        if (n == "N") {
            const QStringList c = vcard::components(value, QStringLiteral(" "));
            contact_.given = c.value(1).trimmed();
            contact_.family = c.value(0).trimmed();
            contact_.additional = c.value(2).trimmed();
            contact_.prefix = c.value(3).trimmed();
            contact_.suffix = c.value(4).trimmed();
        } else if (n == "FN") {
            contact_.formatted = vcard::unescape(value).trimmed();
        } else if (n == "TEL") {
            QString number = vcard::unescape(value).trimmed();
            const bool uri = number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive);
            if (uri) {
                number = number.mid(4);
                const qsizetype ext =
                    number.indexOf(QLatin1String(";ext="), 0, Qt::CaseInsensitive);
                const QString extension =
                    ext < 0 ? QString() : number.mid(ext + 5).section(u';', 0, 0);
                number = number.section(u';', 0, 0);
                if (!extension.isEmpty())
                    number += QStringLiteral(" ext. ") + extension;
            }
            if (number.isEmpty())
                return;
            Phone phone{number, typesOf(p), false};
            const auto pref = p.param("PREF");
            phone.preferred =
                phone.types.contains(u"pref") || (!pref.isEmpty() && pref.first() == "1");
            if (!p.group.isEmpty())
                groupedPhones_.append({p.group, int(contact_.phones.size())});
            contact_.phones += phone;
        } else if (n == "EMAIL") {
            detail(QStringLiteral("E-mail"), detailType(typesOf(p)), vcard::unescape(value),
                   p.group);
        } else if (n == "ADR") {
            const QStringList components = vcard::components(value, QStringLiteral(", "));
            Address address;
            for (int i = 0; i < AddressParts && i < components.size(); ++i) {
                QStringList lines = components[i].split(u'\n');
                for (QString &line : lines)
                    line = line.trimmed();
                lines.removeAll(QString());
                address[i] = lines.join(QLatin1String(", "));
            }
            hasAddress_ = true;
            detail(QStringLiteral("Address"), detailType(typesOf(p)), ReadableAddress(address),
                   p.group);
        } else if (n == "LABEL") {
            QString text = vcard::unescape(value).trimmed();
            text.replace(u'\n', QLatin1String(", "));
            Address address;
            address[Street] = text;
            if (!text.isEmpty())
                addressLabels_ += PendingDetail{QStringLiteral("Address"),
                                                detailType(typesOf(p)),
                                                ReadableAddress(address),
                                                {}};
        } else if (n == "NOTE") {
            notes_ += vcard::unescape(value);
        } else if (n == "UID") {
            contact_.uid = vcard::unescape(value).trimmed();
        } else if (n == "BDAY") {
            detail(QStringLiteral("Birthday"), {}, readableDate(vcard::unescape(value).trimmed()),
                   {});
        } else if (n == "ANNIVERSARY") {
            detail(QStringLiteral("Anniversary"), {},
                   readableDate(vcard::unescape(value).trimmed()), {});
        } else if (n == "ORG") {
            QStringList parts = vcard::components(value, QStringLiteral(", "));
            parts.removeIf([](const QString &s) { return s.trimmed().isEmpty(); });
            detail(QStringLiteral("Organisation"), {}, parts.join(QLatin1String(", ")), p.group);
        } else if (n == "TITLE") {
            detail(QStringLiteral("Title"), {}, vcard::unescape(value), p.group);
        } else if (n == "ROLE") {
            detail(QStringLiteral("Role"), {}, vcard::unescape(value), p.group);
        } else if (n == "URL") {
            detail(QStringLiteral("Web"), detailType(typesOf(p)), vcard::unescape(value), p.group);
        } else if (n == "NICKNAME") {
            detail(QStringLiteral("Nickname"), {}, vcard::unescape(value, QStringLiteral(", ")),
                   {});
        } else if (n == "IMPP") {
            detail(QStringLiteral("Messaging"), detailType(typesOf(p)), vcard::unescape(value),
                   p.group);
        } else if (n == "X-ABLABEL" && !p.group.isEmpty()) {
            labels_.insert(p.group, typeName(vcard::unescape(value).toUtf8()));
        } else if (n == "X-MERIDOC-COMMENTS") {
            contact_.comments = vcard::unescape(value);
        } else if (n == "KIND" || n == "X-ABSHOWAS") {
            const QString kind = vcard::unescape(value).trimmed().toLower();
            if (kind == u"org" || kind == u"organization" || kind == u"company")
                contact_.organisation = true;
            else if (kind != u"individual" && kind != u"person" && !kind.isEmpty())
                detail(QStringLiteral("Kind"), {}, kind, {});
        } else if (n == "CATEGORIES") {
            // Each value a group of its own, whatever it holds (a comma given as "\,").
            const QChar apart(0x1F);
            detail(QStringLiteral("Groups"), {},
                   JoinGroups(vcard::unescape(value, apart).split(apart)), {});
        } else if (n == "RELATED" || n == "X-ABRELATEDNAMES") {
            detail(QStringLiteral("Relation"), detailType(typesOf(p)), vcard::unescape(value),
                   p.group);
        } else if (n == "X-ANNIVERSARY") {
            detail(QStringLiteral("Anniversary"), {},
                   readableDate(vcard::unescape(value).trimmed()), {});
        } else if (n == "X-ABDATE") {
            detail(QStringLiteral("Date"), detailType(typesOf(p)),
                   readableDate(vcard::unescape(value).trimmed()), p.group);
        } else if (messenger(n)) {
            detail(QStringLiteral("Messaging"),
                   detailType(QStringList{QString::fromLatin1(n.mid(2)).toLower()} + typesOf(p)),
                   vcard::unescape(value), p.group);
        } else {
            // Any other property keeps its name as the label: "Gender: F", "Social profile".
            QString label = QString::fromLatin1(n.startsWith("X-") ? n.mid(2) : n).toLower();
            label.replace(u'-', u' ');
            if (!label.isEmpty())
                label[0] = label[0].toUpper();
            detail(label, detailType(typesOf(p)), vcard::unescape(value), p.group);
        }
    }

    static bool messenger(const QByteArray &n) {
        return n == "X-AIM" || n == "X-JABBER" || n == "X-SKYPE" || n == "X-SKYPE-USERNAME" ||
               n == "X-ICQ" || n == "X-MSN" || n == "X-YAHOO" || n == "X-GOOGLE-TALK" ||
               n == "X-QQ" || n == "X-GADUGADU" || n == "X-TWITTER";
    }

    // A photo, logo, sound or key: a link to one is kept, embedded data is reported with its
    // size.
    void keepLink(const Property &p) {
        const QByteArray value = p.value.trimmed();
        if (value.isEmpty())
            return;
        QString kind = QString::fromLatin1(p.name).toLower();
        kind[0] = kind[0].toUpper();
        const bool link = !p.base64() && !value.startsWith("data:") &&
                          (value.contains("://") || p.param("VALUE").contains("uri") ||
                           p.param("VALUE").contains("URI"));
        if (link) {
            detail(kind, {}, QString::fromUtf8(value), {});
            return;
        }
        qsizetype size = value.size();
        if (p.base64())
            size = QByteArray::fromBase64(value).size();
        else if (const qsizetype comma = value.indexOf(','); value.startsWith("data:") && comma > 0)
            size = QByteArray::fromBase64(value.mid(comma + 1)).size();
        contact_.notKept += QStringLiteral("%1 of %2 bytes not kept")
                                .arg(QString::fromLatin1(p.name))
                                .arg(QLocale::c().toString(size));
    }

    Contact contact_;
    QStringList notes_;
    QList<PendingDetail> details_;
    QList<PendingDetail> addressLabels_;
    bool hasAddress_ = false;
    QMap<QByteArray, QString> labels_;
    QList<std::pair<QByteArray, int>> groupedPhones_;
};

bool isBlank(QByteArrayView line) {
    return line.trimmed().isEmpty();
}

// True when the property's value, as its encoding gives it, may be read as UTF-8: the card's
// encoding is decided from all of them.
bool valueIsUtf8(const Property &p) {
    if (!p.param("CHARSET").isEmpty() || p.base64())
        return true;
    if (p.quotedPrintable()) {
        const auto decoded = vcard::decodeQuotedPrintable(p.value);
        return !decoded || decoded->isValidUtf8(); // an invalid one is refused when added
    }
    return p.value.isValidUtf8();
}

// The properties of the card being read, held until its END so that its encoding is known
// before any value is decoded.
struct PendingCard {
    int line = 0;
    QList<std::pair<int, Property>> properties;
    qsizetype bytes = 0;
    bool utf8 = true;
};

std::optional<ParseError> readCards(InputText &input, const ContactSink &sink) {
    Lines lines(input);
    std::optional<PendingCard> card;
    Property property;
    while (!lines.atEnd()) {
        const int number = lines.nextNumber();
        const QByteArray line = vcard::nextLogicalLine(lines);
        if (isBlank(line))
            continue;
        if (!vcard::parseProperty(line, property))
            return ParseError{number, QStringLiteral("not a property (no ':')")};
        if (property.name == "BEGIN") {
            const QByteArray value = property.value.trimmed().toUpper();
            if (card)
                return ParseError{
                    number,
                    QStringLiteral("BEGIN:%1 inside a card (the card of line %2 has no END:VCARD)")
                        .arg(QString::fromUtf8(value))
                        .arg(card->line)};
            if (value != "VCARD")
                return ParseError{
                    number,
                    QStringLiteral("BEGIN:%1 is not a vCard").arg(QString::fromUtf8(value))};
            card.emplace().line = number;
            continue;
        }
        if (property.name == "END") {
            const QByteArray value = property.value.trimmed().toUpper();
            if (!card)
                return ParseError{
                    number,
                    QStringLiteral("END:%1 without BEGIN:VCARD").arg(QString::fromUtf8(value))};
            if (value != "VCARD")
                return ParseError{number, QStringLiteral("END:%1 inside a card (line %2)")
                                              .arg(QString::fromUtf8(value))
                                              .arg(card->line)};
            Card reader(card->line);
            for (const auto &[at, p] : card->properties)
                if (auto reason = reader.add(p, card->utf8))
                    return ParseError{at, *reason};
            Contact contact = reader.finish();
            if (!card->utf8)
                contact.remarks += QStringLiteral("read as Windows-1252 (not valid UTF-8)");
            card.reset();
            if (auto reason = refusedName(contact))
                return ParseError{contact.line, *reason};
            if (!sink(std::move(contact)))
                return std::nullopt;
            continue;
        }
        if (!card)
            return ParseError{number, QStringLiteral("property outside a card")};
        card->bytes += line.size();
        if (card->bytes > MaxCardBytes)
            return ParseError{card->line,
                              QStringLiteral("card longer than %1").arg(sizeText(MaxCardBytes))};
        if (card->properties.size() >= MaxCardProperties)
            return ParseError{
                card->line,
                QStringLiteral("card with more than %1 properties").arg(MaxCardProperties)};
        card->utf8 = card->utf8 && valueIsUtf8(property);
        card->properties.append({number, property});
        // vCard 2.1 writers may put BASE64 data on unindented lines up to a blank line.
        if (property.base64())
            while (!lines.atEnd() && vcard::isBase64Line(lines.peek()))
                lines.take();
    }
    if (card)
        return ParseError{card->line, QStringLiteral("card without END:VCARD")};
    return std::nullopt;
}

} // namespace

std::optional<ParseError> readVCards(InputText &input, const ContactSink &sink) {
    try {
        return readCards(input, sink);
    } catch (const InputRefusal &refusal) {
        return ParseError{refusal.line, refusal.reason};
    }
}

std::optional<ParseError> readVCards(QByteArrayView bytes, const ContactSink &sink) {
    InputText input(bytes);
    return readVCards(input, sink);
}

bool looksLikeVCard(QByteArrayView bytes) {
    const decoding::Bom bom = decoding::detectBom(bytes);
    QByteArray head;
    if (bom == decoding::Bom::Utf16LE || bom == decoding::Bom::Utf16BE)
        head = decoding::decodeInput(bytes.first(std::min<qsizetype>(bytes.size(), 4096))).toUtf8();
    else
        head = bytes.sliced(decoding::bomLength(bom))
                   .first(std::min<qsizetype>(bytes.size() - decoding::bomLength(bom), 4096))
                   .toByteArray();
    for (const QByteArray &line : head.split('\n')) {
        const QByteArray t = line.trimmed();
        if (!t.isEmpty())
            return t.toUpper().startsWith("BEGIN:VCARD");
    }
    return false;
}

} // namespace meridoc::cards
