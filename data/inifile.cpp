#include "inifile.h"

#include "errors.h"
#include "files.h"
#include "text.h"

#include <optional>
#include <utility>

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

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray blanksTrimmed(const QByteArray &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
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

// A configuration file larger than this is not one the program wrote or a person edits.
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

// The file's bytes with its permission bits; nothing when the file is missing. Anything else
// that keeps it from being read whole (no permission, not a regular file, too large) throws.
std::optional<std::pair<QByteArray, mode_t>> readFile(const QString &path) {
    try {
        files::File file = files::File::openForReading(path);
        QByteArray bytes = file.readAll(MaxFileBytes);
        if (bytes.size() > MaxFileBytes)
            throw EInOutError(ioerror::AccessDenied);
        return std::pair{bytes, file.mode()};
    } catch (const EInOutError &e) {
        if (e.code() == ioerror::FileNotFound)
            return std::nullopt;
        throw;
    }
}

// A text that a line of the file can hold and give back unchanged: Windows-1252 characters
// without a line break or a NUL.
bool fitsOnALine(const QString &s) {
    return !s.contains('\r') && !s.contains('\n') && !s.contains(QChar(0)) &&
           text::fromCp1252(text::toCp1252(s)) == s;
}

} // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

QString IniFile::ReadString(const QString &section, const QString &key,
                            const QString &defaultValue) const {
    QByteArray raw;
    try {
        if (const auto file = readFile(path_))
            raw = file->first;
    } catch (const Exception &) {
        return defaultValue; // a file that cannot be read holds no keys
    }
    const QList<Line> lines = splitLines(raw);
    const Position pos = find(lines, text::toCp1252(section), text::toCp1252(key));
    if (!pos.keyLine)
        return defaultValue;
    const QByteArray &content = lines[*pos.keyLine].content;
    const QByteArray value = blanksTrimmed(content.mid(content.indexOf('=') + 1));
    return text::fromCp1252(value.left(MaxValueLength));
}

void IniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    const auto fail = [&] { return Exception(QStringLiteral("Unable to write to %1").arg(path_)); };
    if (!fitsOnALine(section) || !fitsOnALine(key) || !fitsOnALine(value))
        throw fail();
    std::optional<std::pair<QByteArray, mode_t>> file;
    try {
        file = readFile(path_);
    } catch (const Exception &) {
        throw fail(); // replacing a file that cannot be read would lose what it holds
    }
    const QByteArray raw = file ? file->first : QByteArray();
    QList<Line> lines = splitLines(raw);
    const QByteArray sectionBytes = text::toCp1252(section);
    const QByteArray keyBytes = text::toCp1252(key);
    const QByteArray valueBytes = text::toCp1252(value);
    const QByteArray newline = raw.contains("\r\n") || raw.isEmpty() ? "\r\n" : "\n";

    const Position pos = find(lines, sectionBytes, keyBytes);
    if (pos.keyLine) {
        // Only the value changes; the key's spelling and the blanks around the value stay.
        QByteArray &content = lines[*pos.keyLine].content;
        qsizetype begin = content.indexOf('=') + 1;
        while (begin < content.size() && isBlank(content[begin]))
            ++begin;
        qsizetype end = content.size();
        while (end > begin && isBlank(content[end - 1]))
            --end;
        content = content.left(begin) + valueBytes + content.mid(end);
    } else {
        const QByteArray keyLine = keyBytes + "=" + valueBytes;
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

    if (files::isReadOnly(path_))
        throw fail();
    try {
        files::ReplacementFile replacement(path_, file ? file->second : files::newFileMode(0644));
        replacement.file().writeAt(out.constData(), out.size(), 0);
        replacement.commit();
    } catch (const Exception &) {
        throw fail();
    }
}

} // namespace meridoc
