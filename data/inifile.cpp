#include "inifile.h"

#include "errors.h"
#include "files.h"
#include "text.h"

#include <QFile>
#include <QSaveFile>

#include <optional>

namespace meridoc {
namespace {

struct Line {
    QByteArray content; // without its line end
    QByteArray ending;  // "\r\n", "\n", "\r" or "" for a last line without one
};

QList<Line> splitLines(const QByteArray &data) {
    QList<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype i = start;
        while (i < data.size() && data[i] != '\n' && data[i] != '\r')
            ++i;
        Line line{data.mid(start, i - start), {}};
        if (i < data.size()) {
            const qsizetype endLength =
                (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ? 2 : 1;
            line.ending = data.mid(i, endLength);
            i += endLength;
        }
        lines.append(line);
        start = i;
    }
    return lines;
}

QByteArray blanksTrimmed(const QByteArray &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.mid(b, e - b);
}

// The section name of a "[name]" line.
std::optional<QByteArray> sectionName(const QByteArray &line) {
    const QByteArray t = blanksTrimmed(line);
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    return blanksTrimmed(t.mid(1, close < 0 ? -1 : close - 1));
}

bool isComment(const QByteArray &line) {
    const QByteArray t = blanksTrimmed(line);
    return t.startsWith(';') || t.startsWith('#');
}

// Line index of `key` inside `section`, and the index after the section's last key line.
struct Position {
    std::optional<qsizetype> sectionHeader;
    std::optional<qsizetype> keyLine;
    qsizetype sectionEnd = 0;
};

Position find(const QList<Line> &lines, const QByteArray &section, const QByteArray &key) {
    Position pos;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &content = lines[i].content;
        if (const auto name = sectionName(content)) {
            if (inSection)
                break; // the wanted section ends here; a repeated header is not searched
            inSection = text::equalsIgnoringAsciiCase(*name, section);
            if (inSection) {
                pos.sectionHeader = i;
                pos.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection || isComment(content))
            continue;
        if (!blanksTrimmed(content).isEmpty())
            pos.sectionEnd = i + 1;
        const qsizetype eq = content.indexOf('=');
        if (eq >= 0 && text::equalsIgnoringAsciiCase(blanksTrimmed(content.left(eq)), key)) {
            pos.keyLine = i;
            return pos;
        }
    }
    return pos;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

QString IniFile::ReadString(const QString &section, const QString &key,
                            const QString &defaultValue) const {
    const QList<Line> lines = splitLines(readAll(path_));
    const Position pos = find(lines, text::toCp1252(section), text::toCp1252(key));
    if (!pos.keyLine)
        return defaultValue;
    const QByteArray &content = lines[*pos.keyLine].content;
    const QByteArray value = blanksTrimmed(content.mid(content.indexOf('=') + 1));
    return text::fromCp1252(value.left(MaxValueLength));
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    const QByteArray raw = readAll(path_);
    QList<Line> lines = splitLines(raw);
    const QByteArray sectionBytes = text::toCp1252(section);
    const QByteArray keyBytes = text::toCp1252(key);
    const QByteArray keyLine = keyBytes + "=" + text::toCp1252(value);
    const QByteArray newline = raw.contains("\r\n") || raw.isEmpty() ? "\r\n" : "\n";

    const Position pos = find(lines, sectionBytes, keyBytes);
    if (pos.keyLine) {
        lines[*pos.keyLine].content = keyLine;
    } else {
        const qsizetype at = pos.sectionHeader ? pos.sectionEnd : lines.size();
        // A line the new ones follow must end with a line break.
        if (at > 0 && lines[at - 1].ending.isEmpty())
            lines[at - 1].ending = newline;
        if (pos.sectionHeader) {
            lines.insert(at, Line{keyLine, newline});
        } else {
            lines.append(Line{"[" + sectionBytes + "]", newline});
            lines.append(Line{keyLine, newline});
        }
    }

    QByteArray out;
    for (const Line &line : lines)
        out += line.content + line.ending;

    const auto fail = [&] { return Exception(QStringLiteral("Unable to write to %1").arg(path_)); };
    if (files::isReadOnly(path_))
        throw fail();
    QSaveFile file(path_);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
        throw fail();
}

} // namespace meridoc
