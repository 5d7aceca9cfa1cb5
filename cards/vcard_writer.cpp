#include "vcard_writer.h"

#include "data/text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

namespace meridoc::cards {
namespace {

constexpr std::size_t MaxLineOctets = 75;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Every Windows-1252 byte as it appears in an escaped UTF-8 text value, so fields convert
// without a detour through QString. Four bytes in all, so that an entry is copied with one
// fixed-size move; only the first `size` of them count.
struct EscapedByte {
    char bytes[3];
    unsigned char size;
};
static_assert(sizeof(EscapedByte) == 4);

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

template <std::size_t N> char *put(char *out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}

char *put(char *out, QByteArrayView bytes) {
    std::memcpy(out, bytes.data(), std::size_t(bytes.size()));
    return out + bytes.size();
}

// Writes up to one byte past the field's end (the table's fixed-size entries); the size bound
// allows for it.
char *putField(char *out, QByteArrayView cp1252, const EscapedByte *table) {
    for (const char c : cp1252) {
        const EscapedByte &e = table[static_cast<unsigned char>(c)];
        std::memcpy(out, &e, sizeof e);
        out += e.size;
    }
    return out;
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

// Ends the content line that starts at `line` and ends at `end`: folds it when it is too long
// (seldom: long notes), then adds CRLF.
char *endLine(char *line, char *end) {
    if (std::size_t(end - line) > MaxLineOctets) {
        thread_local std::string folded;
        folded.clear();
        appendFolded(folded, std::string_view(line, std::size_t(end - line)));
        return put(line, QByteArrayView(folded.data(), qsizetype(folded.size())));
    }
    return put(end, "\r\n");
}

} // namespace

QByteArray FoldLine(const QByteArray &line) {
    std::string out;
    appendFolded(out, std::string_view(line.constData(), line.size()));
    return QByteArray::fromStdString(out);
}

QByteArray EscapeText(QByteArrayView utf8) {
    QByteArray out;
    out.reserve(utf8.size() * 2);
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
    return out;
}

std::size_t VCardSizeBound(const VCardSource &source) {
    // The fixed text of the longest vCard, three octets (and one spare) for each field byte
    // (NAME and SURNAME appear twice), the escaped extra text, and the folding of it all.
    std::size_t content = 256 + std::size_t(source.uid.size() + source.escapedExtraText.size());
    for (int f = 0; f < FieldCount; ++f)
        content += (f <= int(Field::SURNAME) ? 8 : 4) * std::size_t(source.fields[f].size());
    return content + content / 16 + 64;
}

char *WriteVCardInto(char *out, const VCardSource &source, VCardVersion version) {
    const EscapedByte *table = escapedCp1252().data();
    const bool v4 = version == VCardVersion::V4;
    const QByteArrayView name = TrimmedBytes(source.fields[int(Field::NAME)]);
    const QByteArrayView surname = TrimmedBytes(source.fields[int(Field::SURNAME)]);

    out = v4 ? put(out, "BEGIN:VCARD\r\nVERSION:4.0\r\n")
             : put(out, "BEGIN:VCARD\r\nVERSION:3.0\r\n");
    out = put(out, "PRODID:-//MERIDOC//meridoc-cards//EN\r\n");
    out = v4 ? put(out, "UID:urn:uuid:") : put(out, "UID:");
    out = put(put(out, source.uid), "\r\n");

    char *line = out;
    out = putField(put(out, "N:"), surname, table);
    *out++ = ';';
    out = put(putField(out, name, table), ";;;");
    out = endLine(line, out);

    line = out;
    out = putField(put(out, "FN:"), name, table);
    if (!name.isEmpty() && !surname.isEmpty())
        *out++ = ' ';
    out = endLine(line, putField(out, surname, table));

    for (Field f : {Field::PHONE1, Field::PHONE2}) {
        const QByteArrayView phone = TrimmedBytes(source.fields[int(f)]);
        if (phone.isEmpty())
            continue;
        line = out;
        out = v4 ? put(out, "TEL;TYPE=voice:") : put(out, "TEL;TYPE=VOICE:");
        out = endLine(line, putField(out, phone, table));
    }

    const QByteArrayView comments = TrimmedBytes(source.fields[int(Field::COMMENTS)]);
    if (!comments.isEmpty() || !source.escapedExtraText.isEmpty()) {
        line = out;
        out = putField(put(out, "NOTE:"), comments, table);
        if (!source.escapedExtraText.isEmpty())
            out = put(put(out, "\\n"), source.escapedExtraText);
        out = endLine(line, out);
    }
    return put(out, "END:VCARD\r\n");
}

QByteArray WriteVCard(const ExportEntry &entry, VCardVersion version) {
    VCardSource source;
    std::copy(entry.fields.begin(), entry.fields.end(), source.fields.begin());
    const QByteArray uid =
        entry.uid.isEmpty() ? EntryUid(entry.fields).toLatin1() : entry.uid.toLatin1();
    const QByteArray extra = EscapeText(entry.extraText.toUtf8());
    source.uid = uid;
    source.escapedExtraText = extra;
    QByteArray out;
    out.resize(qsizetype(VCardSizeBound(source)));
    out.truncate(WriteVCardInto(out.data(), source, version) - out.constData());
    return out;
}

} // namespace meridoc::cards
