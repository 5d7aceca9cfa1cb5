#include "vcard_writer.h"

#include "detail_values.h"

#include "data/text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace meridoc::cards {
namespace {

constexpr qsizetype MaxLineOctets = 75;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

void appendEscaped(QByteArray &out, QByteArrayView utf8) {
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')
            continue; // CRLF is one line break
        if (c == '\\' || c == ',' || c == ';')
            out.append('\\').append(c);
        else if (c == '\n' || c == '\r')
            out.append("\\n");
        else
            out.append(c);
    }
}

// Appends `bytes` by a resize and a copy: QByteArray::append goes through the general insert,
// which took an eighth of an export's time.
void put(QByteArray &out, QByteArrayView bytes) {
    const qsizetype at = out.size();
    out.resize(at + bytes.size());
    std::memcpy(out.data() + at, bytes.data(), std::size_t(bytes.size()));
}

void appendFolded(QByteArray &out, QByteArrayView line) {
    if (line.size() <= MaxLineOctets) { // most lines: one copy
        const qsizetype at = out.size();
        out.resize(at + line.size() + 2);
        char *to = out.data() + at;
        std::memcpy(to, line.data(), std::size_t(line.size()));
        std::memcpy(to + line.size(), "\r\n", 2);
        return;
    }
    qsizetype start = 0;
    qsizetype room = MaxLineOctets;
    while (line.size() - start > room) {
        // A character is at most four octets: its start is at most three back. Without one there
        // (invalid UTF-8), the line is cut where the room ends, so that folding always advances.
        qsizetype end = start + room;
        const qsizetype nearest = std::max(start + 1, end - 3);
        while (end > nearest && isContinuationByte(line[end]))
            --end;
        if (isContinuationByte(line[end]))
            end = start + room;
        put(out, line.sliced(start, end - start));
        put(out, "\r\n ");
        start = end;
        room = MaxLineOctets - 1; // the blank that starts a continuation line counts
    }
    put(out, line.sliced(start));
    put(out, "\r\n");
}

// "E-mail (work, home)" as its base and its types.
std::pair<QString, QStringList> splitLabel(const QString &label) {
    const qsizetype open = label.indexOf(QLatin1String(" ("));
    if (open < 0 || !label.endsWith(u')'))
        return {label, {}};
    return {label.left(open), label.mid(open + 2).chopped(1).split(QStringLiteral(", "))};
}

// One content line at a time, folded as it is ended.
class Card {
public:
    Card(QByteArray &out, bool v4) : out_(out), v4_(v4) {}

    Card &start(const char *name) {
        line_.clear();
        line_.append(name);
        return *this;
    }
    // TYPE=... from type names (letters, digits and '-' only); `fallback` when none is left.
    Card &types(const QStringList &types, const char *fallback = nullptr) {
        QByteArray joined;
        for (QString t : types) {
            if (t == u"mobile")
                t = QStringLiteral("cell");
            QByteArray name;
            for (const QChar c : t)
                if (c.isLetterOrNumber() && c.unicode() < 0x80)
                    name += char(c.unicode());
                else if (c == u'-' || c == u' ')
                    name += '-';
            if (!name.isEmpty() && name != "voice" && name != "pref")
                joined += (joined.isEmpty() ? "" : ",") + (v4_ ? name.toLower() : name.toUpper());
        }
        if (joined.isEmpty() && fallback)
            joined = v4_ ? QByteArray(fallback).toLower() : QByteArray(fallback);
        if (!joined.isEmpty())
            line_.append(";TYPE=").append(joined);
        return *this;
    }
    Card &value(const QString &text) {
        line_.append(':');
        appendEscaped(line_, text.toUtf8());
        return *this;
    }
    // Comma-separated values, each escaped.
    Card &list(const QStringList &values) {
        line_.append(':');
        for (qsizetype i = 0; i < values.size(); ++i) {
            if (i > 0)
                line_.append(',');
            appendEscaped(line_, values[i].trimmed().toUtf8());
        }
        return *this;
    }
    // The next component of a structured value.
    Card &component(const QString &text) {
        line_.append(';');
        return escaped(text);
    }
    Card &escaped(const QString &text) {
        appendEscaped(line_, text.toUtf8());
        return *this;
    }
    Card &raw(QByteArrayView bytes) {
        line_.append(bytes);
        return *this;
    }
    void end() { appendFolded(out_, line_); }

private:
    QByteArray &out_;
    bool v4_;
    QByteArray line_;
};

// ADR's seven components, each escaped.
void address(Card &card, const Address &parts) {
    card.raw(":");
    for (int i = 0; i < AddressParts; ++i) {
        if (i > 0)
            card.raw(";");
        card.escaped(parts[i]);
    }
}

void detail(Card &card, const Detail &d, bool v4) {
    const auto [base, types] = splitLabel(d.label);
    const QStringList list = d.value.split(QStringLiteral(", "), Qt::SkipEmptyParts);
    if (base == u"E-mail")
        card.start("EMAIL").types(v4 ? types : QStringList{"internet"} + types).value(d.value);
    else if (base == u"Address")
        address(card.start("ADR").types(types), ParseAddress(d.value));
    else if (base == u"Birthday" || base == u"Anniversary") {
        const auto date = ParseDate(d.value);
        if (!date) // what is not a date has no date property
            return;
        card.start(base == u"Birthday" ? "BDAY"
                   : v4                ? "ANNIVERSARY"
                                       : "X-ANNIVERSARY")
            .raw(":")
            .raw(VCardDate(*date, v4));
    } else if (base == u"Organisation")
        card.start("ORG").value(d.value);
    else if (base == u"Title")
        card.start("TITLE").value(d.value);
    else if (base == u"Role")
        card.start("ROLE").value(d.value);
    else if (base == u"Web")
        card.start("URL").types(types).raw(":").raw(d.value.toUtf8());
    else if (base == u"Nickname")
        card.start("NICKNAME").list(list);
    else if (base == u"Groups")
        card.start("CATEGORIES").list(SplitGroups(d.value));
    else
        return;
    card.end();
}

// Every Windows-1252 byte as it appears in an escaped UTF-8 text value.
struct EscapedByte {
    char bytes[3];
    unsigned char size;
};

const std::array<EscapedByte, 256> &escapedCp1252() {
    static const std::array<EscapedByte, 256> table = [] {
        std::array<EscapedByte, 256> t{};
        for (int b = 0; b < 256; ++b) {
            QByteArray utf8 = text::fromCp1252(QByteArray(1, static_cast<char>(b))).toUtf8();
            if (b == '\\' || b == ',' || b == ';')
                utf8.prepend('\\');
            else if (b == '\n' || b == '\r')
                utf8 = "\\n";
            std::copy(utf8.begin(), utf8.end(), t[b].bytes);
            t[b].size = static_cast<unsigned char>(utf8.size());
        }
        return t;
    }();
    return table;
}

// Each byte's escape is copied as the table entry's four bytes into room made for all of them
// at once, and the line cut back to what was written: appending each escape on its own made
// an export of 100,000 entries a third slower.
void appendField(QByteArray &line, QByteArrayView cp1252) {
    static_assert(sizeof(EscapedByte) == 4);
    const EscapedByte *table = escapedCp1252().data();
    const qsizetype at = line.size();
    line.resize(at + cp1252.size() * qsizetype(sizeof(EscapedByte::bytes)) + 1);
    char *out = line.data() + at;
    for (const char c : cp1252) {
        const EscapedByte &e = table[static_cast<unsigned char>(c)];
        std::memcpy(out, &e, sizeof e);
        out += e.size;
    }
    line.resize(out - line.constData());
}

} // namespace

void AppendEntryVCard(QByteArray &out, const FieldViews &fields, QByteArrayView uid,
                      VCardVersion version) {
    const bool v4 = version == VCardVersion::V4;
    const QByteArrayView name = TrimmedBytes(fields[int(Field::NAME)]);
    const QByteArrayView surname = TrimmedBytes(fields[int(Field::SURNAME)]);
    put(out, v4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\nPRODID:-//MERIDOC//meridoc-cards//EN\r\n"
                  "UID:urn:uuid:"
                : "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//MERIDOC//meridoc-cards//EN\r\nUID:");
    put(out, uid);
    put(out, "\r\n");
    thread_local QByteArray line;
    const auto start = [](const char *name) { line.resize(0), put(line, name); };
    const auto end = [&out] { appendFolded(out, line); };
    start("N:");
    appendField(line, surname);
    line.append(';');
    appendField(line, name);
    line.append(";;;");
    end();
    start("FN:");
    appendField(line, name);
    if (!name.isEmpty() && !surname.isEmpty())
        line.append(' ');
    appendField(line, surname);
    end();
    // The types an entry's phones have without a line saying otherwise (DefaultPhoneType).
    for (const Field f : {Field::PHONE1, Field::PHONE2}) {
        if (const QByteArrayView phone = TrimmedBytes(fields[int(f)]); !phone.isEmpty()) {
            start(f == Field::PHONE1 ? (v4 ? "TEL;TYPE=cell:" : "TEL;TYPE=CELL:")
                                     : (v4 ? "TEL;TYPE=home:" : "TEL;TYPE=HOME:"));
            appendField(line, phone);
            end();
        }
    }
    if (const QByteArrayView comments = TrimmedBytes(fields[int(Field::COMMENTS)]);
        !comments.isEmpty()) {
        start("NOTE:");
        appendField(line, comments);
        end();
    }
    put(out, "END:VCARD\r\n");
}

QByteArray FoldLine(const QByteArray &line) {
    QByteArray out;
    appendFolded(out, line);
    return out;
}

QByteArray EscapeText(QByteArrayView utf8) {
    QByteArray out;
    out.reserve(utf8.size() * 2);
    appendEscaped(out, utf8);
    return out;
}

void AppendVCard(QByteArray &out, const Contact &c, QByteArrayView uid, VCardVersion version) {
    const bool v4 = version == VCardVersion::V4;
    out.append(v4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n");
    out.append("PRODID:-//MERIDOC//meridoc-cards//EN\r\n");
    out.append(v4 ? "UID:urn:uuid:" : "UID:").append(uid).append("\r\n");
    if (c.organisation)
        out.append(v4 ? "KIND:org\r\n" : "X-ABShowAs:COMPANY\r\n");
    Card card(out, v4);
    card.start("N").value(c.family).component(c.given).component(c.additional);
    card.component(c.prefix).component(c.suffix).end();
    card.start("FN").value(c.formatted).end();
    for (const Phone &p : c.phones)
        card.start("TEL").types(p.types, "VOICE").value(p.number).end();
    for (const Detail &d : c.details)
        detail(card, d, v4);
    if (!c.note.isEmpty())
        card.start("NOTE").value(c.note).end();
    if (c.comments && c.comments->isEmpty() && !c.note.isEmpty())
        out.append("X-MERIDOC-COMMENTS:\r\n");
    out.append("END:VCARD\r\n");
}

} // namespace meridoc::cards
