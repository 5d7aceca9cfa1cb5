#include "vcard_writer.h"

#include "data/text.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace meridoc::cards {
namespace {

constexpr int MaxLineOctets = 75;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Every Windows-1252 byte as it appears in an escaped UTF-8 text value, so fields convert
// without a detour through QString.
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

// The field's characters without leading and trailing codes 0 to 32, as text::trimmed cuts them.
QByteArrayView trimmedField(const QByteArray &field) {
    QByteArrayView v(field);
    while (!v.isEmpty() && static_cast<unsigned char>(v.front()) <= ' ')
        v = v.sliced(1);
    while (!v.isEmpty() && static_cast<unsigned char>(v.back()) <= ' ')
        v.chop(1);
    return v;
}

// Appends one UTF-8 character (or its start) escaped as a vCard text value: backslash, comma
// and semicolon get a backslash, a line break becomes "\n".
void appendEscaped(std::string &out, char c) {
    if (c == '\\' || c == ',' || c == ';') {
        out += '\\';
        out += c;
    } else if (c == '\n' || c == '\r') {
        out += "\\n";
    } else {
        out += c;
    }
}

void appendEscaped(std::string &out, QByteArrayView utf8) {
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')
            continue; // CRLF is one line break
        appendEscaped(out, utf8[i]);
    }
}

void appendEscapedField(std::string &out, QByteArrayView cp1252) {
    const std::array<EscapedByte, 256> &table = escapedCp1252();
    for (const char c : cp1252) {
        const EscapedByte &e = table[static_cast<unsigned char>(c)];
        out.append(e.bytes, e.size);
    }
}

void appendFolded(std::string &out, std::string_view line) {
    std::size_t start = 0;
    std::size_t room = MaxLineOctets;
    while (line.size() - start > room) {
        std::size_t end = start + room;
        while (end > start && isContinuationByte(line[end]))
            --end;
        out.append(line.data() + start, end - start);
        out.append("\r\n ");
        start = end;
        room = MaxLineOctets - 1; // the blank that starts a continuation line counts
    }
    out.append(line.data() + start, line.size() - start);
    out.append("\r\n");
}

} // namespace

QByteArray FoldLine(const QByteArray &line) {
    std::string out;
    appendFolded(out, std::string_view(line.constData(), line.size()));
    return QByteArray::fromStdString(out);
}

void AppendVCard(std::string &out, const ExportEntry &entry, VCardVersion version) {
    const bool v4 = version == VCardVersion::V4;
    const QByteArrayView name = trimmedField(entry.fields[int(Field::NAME)]);
    const QByteArrayView surname = trimmedField(entry.fields[int(Field::SURNAME)]);
    const QString uid = entry.uid.isEmpty() ? EntryUid(entry.fields) : entry.uid;

    out.append(v4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n");
    out.append("PRODID:-//MERIDOC//meridoc-cards//EN\r\n");
    out.append(v4 ? "UID:urn:uuid:" : "UID:");
    out.append(uid.toLatin1().toStdString());
    out.append("\r\n");

    thread_local std::string line;
    line = "N:";
    appendEscapedField(line, surname);
    line += ';';
    appendEscapedField(line, name);
    line += ";;;";
    appendFolded(out, line);

    line = "FN:";
    appendEscapedField(line, name);
    if (!name.isEmpty() && !surname.isEmpty())
        line += ' ';
    appendEscapedField(line, surname);
    appendFolded(out, line);

    for (Field f : {Field::PHONE1, Field::PHONE2}) {
        const QByteArrayView phone = trimmedField(entry.fields[int(f)]);
        if (phone.isEmpty())
            continue;
        line = v4 ? "TEL;TYPE=voice:" : "TEL;TYPE=VOICE:";
        appendEscapedField(line, phone);
        appendFolded(out, line);
    }

    const QByteArrayView comments = trimmedField(entry.fields[int(Field::COMMENTS)]);
    if (!comments.isEmpty() || !entry.extraText.isEmpty()) {
        line = "NOTE:";
        appendEscapedField(line, comments);
        if (!entry.extraText.isEmpty()) {
            line += "\\n";
            appendEscaped(line, entry.extraText.toUtf8());
        }
        appendFolded(out, line);
    }
    out.append("END:VCARD\r\n");
}

QByteArray WriteVCard(const ExportEntry &entry, VCardVersion version) {
    std::string out;
    AppendVCard(out, entry, version);
    return QByteArray::fromStdString(out);
}

} // namespace meridoc::cards
