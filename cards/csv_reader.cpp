#include "contact.h"
#include "csv_layout.h"
#include "decoding.h"
#include "input_text.h"

// CSV exports of other address books (RFC 4180 quoting). Columns are found by their header
// names, so a file whose columns are in another order or that lacks some of them reads the same.
namespace meridoc::cards {

namespace {

// Splits the input into rows of raw fields, a line at a time; a quoted field may go on over
// several lines.
class Rows {
public:
    explicit Rows(InputText &input) : input_(input) {
        if (!input_.readLine(first_, MaxCardBytes, true))
            return;
        hasFirst_ = true;
        // Spreadsheets may name the separator on a line of its own before the header: "sep=;".
        if (first_.size() > 4 && first_.first(4).toLower() == "sep=") {
            separator_ = first_[4];
            hasFirst_ = false;
            return;
        }
        separator_ = separatorOf(first_);
    }

    // The next row and the line it starts on. Throws InputRefusal for a quote that is never
    // closed (at the line where it opened) and for a field or row over the limits.
    bool next(QList<QByteArray> &fields, int &line) {
        QByteArray text;
        if (hasFirst_) {
            text = std::move(first_);
            hasFirst_ = false;
        } else if (!input_.readLine(text, MaxCardBytes, true)) {
            return false;
        }
        line = input_.lineNumber();
        fields.clear();
        QByteArray field;
        qsizetype rowBytes = text.size();
        for (qsizetype i = 0;;) {
            if (i == text.size())
                break;
            const char c = text[i];
            if (c == '"' && field.isEmpty()) {
                const int opened = input_.lineNumber();
                ++i;
                for (;;) {
                    if (i == text.size()) { // the field goes on on the next line
                        if (!input_.readLine(text, MaxCardBytes, true))
                            throw InputRefusal{
                                opened, QStringLiteral("quoted field without its closing quote")};
                        rowBytes += text.size() + 1;
                        if (rowBytes > MaxCardBytes)
                            throw InputRefusal{
                                line,
                                QStringLiteral("row longer than %1").arg(sizeText(MaxCardBytes))};
                        field += '\n';
                        i = 0;
                        continue;
                    }
                    const qsizetype quote = text.indexOf('"', i);
                    const qsizetype stop = quote < 0 ? text.size() : quote;
                    field.append(text.constData() + i, stop - i);
                    i = stop;
                    if (quote < 0)
                        continue;
                    if (i + 1 < text.size() && text[i + 1] == '"') { // "" is one quote
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
            } else if (c == separator_) {
                add(fields, field, line);
                field.clear();
                ++i;
            } else {
                field += c; // a quote inside an unquoted field is kept as it is
                ++i;
            }
            if (field.size() > MaxFieldBytes)
                throw InputRefusal{
                    line, QStringLiteral("field longer than %1").arg(sizeText(MaxFieldBytes))};
        }
        add(fields, field, line);
        return true;
    }

private:
    static void add(QList<QByteArray> &fields, const QByteArray &field, int line) {
        if (fields.size() == MaxColumns)
            throw InputRefusal{line, QStringLiteral("more than %1 columns").arg(MaxColumns)};
        fields += field;
    }

    // The one of comma, semicolon and tab that the header line uses most.
    static char separatorOf(QByteArrayView header) {
        int commas = 0, semicolons = 0, tabs = 0;
        bool quoted = false;
        for (const char c : header) {
            if (c == '"')
                quoted = !quoted;
            else if (!quoted)
                commas += c == ',', semicolons += c == ';', tabs += c == '\t';
        }
        if (semicolons > commas && semicolons >= tabs)
            return ';';
        return tabs > commas ? '\t' : ',';
    }

    InputText &input_;
    QByteArray first_;
    bool hasFirst_ = false;
    char separator_ = ',';
};

// Each field as UTF-8 when it is valid UTF-8, else as Windows-1252; false when one was not.
bool decodeFields(const QList<QByteArray> &raw, QStringList &fields) {
    fields.clear();
    fields.reserve(raw.size());
    bool utf8 = true;
    for (const QByteArray &f : raw) {
        const bool valid = f.isValidUtf8();
        utf8 = utf8 && valid;
        fields += decoding::decodeDefault(f, valid);
    }
    return utf8;
}

bool isEmptyRow(const QList<QByteArray> &fields) {
    for (const QByteArray &f : fields)
        if (!f.trimmed().isEmpty())
            return false;
    return true;
}

std::optional<ParseError> readRows(InputText &input, const CsvMap &map, const ContactSink &sink) {
    Rows rows(input);
    QList<QByteArray> raw;
    QStringList fields;
    int line = 0;
    bool more;
    while ((more = rows.next(raw, line)) && isEmptyRow(raw)) {
    }
    if (!more)
        return std::nullopt;

    const int headerLine = line;
    decodeFields(raw, fields);
    csv::Layout layout;
    if (auto reason = layout.build(fields, map))
        return ParseError{headerLine, *reason};
    const qsizetype columns = fields.size();

    while (rows.next(raw, line)) {
        if (isEmptyRow(raw))
            continue;
        // A longer row is tolerated only when the fields past the header are empty (a trailing
        // separator); anything else means the columns are not what the header says.
        for (qsizetype i = columns; i < raw.size(); ++i)
            if (!raw[i].trimmed().isEmpty())
                return ParseError{line, QStringLiteral("row has %1 fields, the header has %2")
                                            .arg(raw.size())
                                            .arg(columns)};
        const bool utf8 = decodeFields(raw, fields);
        Contact contact = layout.contact(fields);
        contact.line = line;
        if (!utf8)
            contact.remarks += QStringLiteral("read as Windows-1252 (not valid UTF-8)");
        if (auto reason = refusedName(contact))
            return ParseError{line, *reason};
        if (!sink(std::move(contact)))
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<ParseError> readCsv(InputText &input, const CsvMap &map, const ContactSink &sink) {
    try {
        return readRows(input, map, sink);
    } catch (const InputRefusal &refusal) {
        return ParseError{refusal.line, refusal.reason};
    }
}

std::optional<ParseError> readCsv(QByteArrayView bytes, const CsvMap &map,
                                  const ContactSink &sink) {
    InputText input(bytes);
    return readCsv(input, map, sink);
}

} // namespace meridoc::cards
