#include "vcard_text.h"

#include <cctype>

namespace meridoc::cards::vcard {

namespace {

// Where the property's name and parameters end: the first ':' outside double quotes, or -1.
qsizetype colonPosition(QByteArrayView line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return -1;
}

bool isEncodingName(const QByteArray &upper) {
    return upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "B" || upper == "8BIT" ||
           upper == "7BIT";
}

Param parseParam(QByteArrayView text) {
    Param param;
    const qsizetype eq = text.indexOf('=');
    QByteArray values = (eq < 0 ? text : text.sliced(eq + 1)).toByteArray().trimmed();
    values.replace('"', "");
    if (eq < 0) {
        // A vCard 2.1 bare parameter: TEL;CELL;PREF or NOTE;QUOTED-PRINTABLE.
        const QByteArray upper = values.toUpper();
        param.name = isEncodingName(upper) ? "ENCODING" : "TYPE";
        param.values = {values};
        return param;
    }
    param.name = text.first(eq).toByteArray().trimmed().toUpper();
    for (const QByteArray &v : values.split(','))
        if (!v.trimmed().isEmpty())
            param.values += v.trimmed();
    return param;
}

} // namespace

bool parseProperty(QByteArrayView line, Property &property) {
    const qsizetype colon = colonPosition(line);
    if (colon <= 0)
        return false;
    const QByteArrayView head = line.first(colon);
    QList<QByteArrayView> parts;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= head.size(); ++i) {
        if (i < head.size() && head[i] == '"')
            quoted = !quoted;
        else if (i == head.size() || (head[i] == ';' && !quoted)) {
            parts += head.sliced(start, i - start);
            start = i + 1;
        }
    }
    const QByteArray fullName = parts.first().toByteArray().trimmed();
    if (fullName.isEmpty())
        return false;
    const qsizetype dot = fullName.lastIndexOf('.');
    property.group = dot < 0 ? QByteArray() : fullName.first(dot).toLower();
    property.name = fullName.sliced(dot + 1).toUpper();
    property.params.clear();
    property.encoding.clear();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (parts[i].trimmed().isEmpty())
            continue;
        property.params += parseParam(parts[i]);
        if (property.params.last().name == "ENCODING" && !property.params.last().values.isEmpty())
            property.encoding = property.params.last().values.first().toUpper();
    }
    property.value = line.sliced(colon + 1).toByteArray();
    return true;
}

bool endsInSoftBreak(QByteArrayView line) {
    if (!line.endsWith('='))
        return false;
    const qsizetype colon = colonPosition(line);
    return colon > 0 && line.first(colon).toByteArray().toUpper().contains("QUOTED-PRINTABLE");
}

QByteArray nextLogicalLine(Lines &lines) {
    const int first = lines.nextNumber();
    QByteArray line = lines.take();
    while (!lines.atEnd()) {
        const QByteArrayView next = lines.peek();
        const bool softBreak = endsInSoftBreak(line);
        if (!softBreak && !next.startsWith(' ') && !next.startsWith('\t'))
            break;
        if (line.size() + next.size() > MaxPropertyBytes)
            throw InputRefusal{
                first, QStringLiteral("property longer than %1").arg(sizeText(MaxPropertyBytes))};
        if (softBreak) {
            line.chop(1);
            line += next;
        } else {
            line += next.sliced(1);
        }
        lines.take();
    }
    return line;
}

bool isBase64Line(QByteArrayView line) {
    for (char c : line)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=')
            return false;
    return !line.isEmpty();
}

std::optional<QByteArray> decodeQuotedPrintable(const QByteArray &in) {
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '=') {
            out += in[i];
            continue;
        }
        if (i + 1 == in.size())
            break; // a soft line break at the very end
        if (i + 2 >= in.size() || !std::isxdigit(static_cast<unsigned char>(in[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(in[i + 2])))
            return std::nullopt;
        out += char(QByteArray::fromHex(in.mid(i + 1, 2)).at(0));
        i += 2;
    }
    return out;
}

QString unescape(const QString &value, const QString &listSeparator) {
    if (!value.contains(u'\\') && (listSeparator == u"," || !value.contains(u',')))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u',') {
            out += listSeparator;
        } else if (c != u'\\' || i + 1 == value.size()) {
            out += c;
        } else {
            const QChar next = value[++i];
            if (next == u'n' || next == u'N')
                out += u'\n';
            else if (next == u',' || next == u';' || next == u':' || next == u'\\')
                out += next;
            else
                out += c, out += next;
        }
    }
    return out;
}

QStringList components(const QString &value, const QString &listSeparator) {
    QStringList parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value[i] == u'\\') {
            ++i;
        } else if (i == value.size() || value[i] == u';') {
            parts += unescape(value.mid(start, i - start), listSeparator);
            start = i + 1;
        }
    }
    return parts;
}

} // namespace meridoc::cards::vcard
