#include "vcard_text.h"

namespace meridoc::cards::vcard {

QString unescape(const QString &value, const QString &listSeparator) {
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
