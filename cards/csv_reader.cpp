#include "contact.h"
#include "csv_layout.h"
#include "decoding.h"

// CSV exports of other address books (RFC 4180 quoting). Columns are found by their header
// names, so a file whose columns are in another order or that lacks some of them reads the same.
namespace meridoc::cards {

namespace {

// Splits the decoded text into rows of fields.
class Rows {
public:
    Rows(const QString &text, QChar separator) : text_(text), separator_(separator) {
        // Spreadsheets may name the separator on a line of its own before the header: "sep=;".
        if (text.startsWith(QLatin1String("sep="), Qt::CaseInsensitive) && text.size() > 4) {
            separator_ = text[4];
            pos_ = text.indexOf(u'\n');
            pos_ = pos_ < 0 ? text.size() : pos_ + 1;
            line_ = 2;
        }
    }

    enum class Result { Row, End, UnclosedQuote };

    // The next row and the line it starts on; for an unclosed quote, `line` is where it opened.
    Result next(QStringList &fields, int &line) {
        if (pos_ >= text_.size())
            return Result::End;
        fields.clear();
        line = line_;
        QString field;
        while (pos_ < text_.size()) {
            const QChar c = text_[pos_];
            if (c == u'"' && field.isEmpty()) {
                const int opened = line_;
                if (!quoted(field)) {
                    line = opened;
                    return Result::UnclosedQuote;
                }
            } else if (c == separator_) {
                fields += field;
                field.clear();
                ++pos_;
            } else if (c == u'\n' || c == u'\r') {
                pos_ += c == u'\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\n' ? 2 : 1;
                ++line_;
                break;
            } else {
                field += c; // a quote inside an unquoted field is kept as it is
                ++pos_;
            }
        }
        fields += field;
        return Result::Row;
    }

private:
    // A quoted section: "" is one quote; line breaks inside belong to the field (as '\n').
    bool quoted(QString &field) {
        ++pos_;
        while (pos_ < text_.size()) {
            const QChar c = text_[pos_];
            if (c == u'"') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'"') {
                    field += u'"';
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                return true;
            }
            if (c == u'\r' || c == u'\n') {
                pos_ += c == u'\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\n' ? 2 : 1;
                ++line_;
                field += u'\n';
                continue;
            }
            field += c;
            ++pos_;
        }
        return false;
    }

    const QString &text_;
    QChar separator_;
    qsizetype pos_ = 0;
    int line_ = 1;
};

// The separator is the one of comma, semicolon and tab that the header line uses most.
QChar separatorOf(const QString &text) {
    int commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            break;
        else if (!quoted)
            commas += c == u',', semicolons += c == u';', tabs += c == u'\t';
    }
    if (semicolons > commas && semicolons >= tabs)
        return u';';
    return tabs > commas ? u'\t' : u',';
}

bool isEmptyRow(const QStringList &fields) {
    for (const QString &f : fields)
        if (!f.trimmed().isEmpty())
            return false;
    return true;
}

} // namespace

std::optional<ParseError> readCsv(QByteArrayView bytes, const CsvMap &map,
                                  const ContactSink &sink) {
    const QString text = decoding::decodeInput(bytes);
    Rows rows(text, separatorOf(text));
    QStringList fields;
    int line = 0;
    Rows::Result result;
    while ((result = rows.next(fields, line)) == Rows::Result::Row && isEmptyRow(fields)) {
    }
    if (result == Rows::Result::UnclosedQuote)
        return ParseError{line, QStringLiteral("quoted field without its closing quote")};
    if (result == Rows::Result::End)
        return std::nullopt;

    const int headerLine = line;
    csv::Layout layout;
    if (auto reason = layout.build(fields, map))
        return ParseError{headerLine, *reason};
    const qsizetype columns = fields.size();

    while ((result = rows.next(fields, line)) == Rows::Result::Row) {
        if (isEmptyRow(fields))
            continue;
        // A longer row is tolerated only when the fields past the header are empty (a trailing
        // separator); anything else means the columns are not what the header says.
        for (qsizetype i = columns; i < fields.size(); ++i)
            if (!fields[i].trimmed().isEmpty())
                return ParseError{line, QStringLiteral("row has %1 fields, the header has %2")
                                            .arg(fields.size())
                                            .arg(columns)};
        Contact contact = layout.contact(fields);
        contact.line = line;
        if (!sink(std::move(contact)))
            return std::nullopt;
    }
    if (result == Rows::Result::UnclosedQuote)
        return ParseError{line, QStringLiteral("quoted field without its closing quote")};
    return std::nullopt;
}

} // namespace meridoc::cards
