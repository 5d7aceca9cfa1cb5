#include "vcard_writer.h"

namespace meridoc::cards {
namespace {

constexpr int MaxLineOctets = 75;

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

void addLine(QByteArray &out, const QString &line) {
    out.append(FoldLine(line.toUtf8()));
}

} // namespace

QString EscapeText(const QString &value) {
    QString out;
    out.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == '\\' || c == ',' || c == ';') {
            out.append('\\');
            out.append(c);
        } else if (c == '\r') {
            out.append(QStringLiteral("\\n"));
            if (i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out.append(QStringLiteral("\\n"));
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray FoldLine(const QByteArray &line) {
    QByteArray out;
    out.reserve(line.size() + line.size() / 70 * 3 + 2);
    qsizetype start = 0;
    int room = MaxLineOctets;
    while (line.size() - start > room) {
        qsizetype end = start + room;
        while (end > start && isContinuationByte(line[end]))
            --end;
        out.append(line.constData() + start, end - start);
        out.append("\r\n ");
        start = end;
        room = MaxLineOctets - 1; // the blank that starts a continuation line counts
    }
    out.append(line.constData() + start, line.size() - start);
    out.append("\r\n");
    return out;
}

QByteArray WriteVCard(const ExportEntry &entry, VCardVersion version) {
    const bool v4 = version == VCardVersion::V4;
    const QString name = entry.text(Field::NAME);
    const QString surname = entry.text(Field::SURNAME);
    const QString uid = entry.uid.isEmpty() ? EntryUid(entry.fields) : entry.uid;

    QByteArray out("BEGIN:VCARD\r\n");
    out.append(v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n");
    out.append("PRODID:-//MERIDOC//meridoc-cards//EN\r\n");
    addLine(out, (v4 ? QStringLiteral("UID:urn:uuid:") : QStringLiteral("UID:")) + uid);
    addLine(out, "N:" + EscapeText(surname) + ';' + EscapeText(name) + ";;;");
    QString formatted = (name + ' ' + surname).trimmed();
    addLine(out, "FN:" + EscapeText(formatted));
    for (Field f : {Field::PHONE1, Field::PHONE2}) {
        const QString phone = entry.text(f);
        if (!phone.isEmpty())
            addLine(out,
                    (v4 ? QStringLiteral("TEL;TYPE=voice:") : QStringLiteral("TEL;TYPE=VOICE:")) +
                        EscapeText(phone));
    }
    const QString note = ExportNote(entry);
    if (!note.isEmpty())
        addLine(out, "NOTE:" + EscapeText(note));
    out.append("END:VCARD\r\n");
    return out;
}

} // namespace meridoc::cards
