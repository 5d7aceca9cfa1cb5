#pragma once

#include "input_text.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The syntax of vCards: lines, properties with their parameters, encodings and escapes.
namespace meridoc::cards::vcard {

// Physical lines of the input, one at a time, with one line of look-ahead. A line longer than
// a property may be is refused (InputRefusal).
class Lines {
public:
    explicit Lines(InputText &input) : input_(input) { advance(); }

    bool atEnd() const { return !hasNext_; }
    int nextNumber() const { return number_ + 1; }

    QByteArrayView peek() const { return next_; }

    QByteArray take() {
        QByteArray line = std::move(next_);
        ++number_;
        advance();
        return line;
    }

private:
    void advance() { hasNext_ = input_.readLine(next_, MaxPropertyBytes); }

    InputText &input_;
    QByteArray next_;
    bool hasNext_ = false;
    int number_ = 0;
};

struct Param {
    QByteArray name; // upper case
    QList<QByteArray> values;
};

struct Property {
    QByteArray group; // lower case, empty when none
    QByteArray name;  // upper case
    QList<Param> params;
    QByteArray value;

    QList<QByteArray> param(const char *name) const {
        QList<QByteArray> all;
        for (const Param &p : params)
            if (p.name == name)
                all += p.values;
        return all;
    }
    QByteArray encoding; // upper case, from ENCODING= or a bare QUOTED-PRINTABLE / BASE64

    bool quotedPrintable() const { return encoding == "QUOTED-PRINTABLE"; }
    bool base64() const { return encoding == "BASE64" || encoding == "B"; }
};

// "group.NAME;PARAM=VALUE;...:value". False when the line is not a property.
bool parseProperty(QByteArrayView line, Property &property);

// Whether a line ends in a quoted-printable soft line break: an "=" at its end, and
// QUOTED-PRINTABLE anywhere before its colon (as a parameter, or bare as vCard 2.1 writes it).
bool endsInSoftBreak(QByteArrayView line);

// A logical line: folded lines joined, and quoted-printable soft line breaks ("=" at the end of
// a line) joined with the line after them. One longer than MaxPropertyBytes is refused
// (InputRefusal).
QByteArray nextLogicalLine(Lines &lines);

// A line of vCard 2.1 BASE64 data, which writers may put on unindented lines.
bool isBase64Line(QByteArrayView line);

// Nothing when the text is not valid quoted-printable.
std::optional<QByteArray> decodeQuotedPrintable(const QByteArray &in);

// Resolves \n \N \, \; \: \\ ; any other backslash stays as it is. An unescaped ',' (which
// separates the values of a list) becomes `listSeparator`.
QString unescape(const QString &value, const QString &listSeparator = QStringLiteral(","));

// The components of a structured value (N, ADR, ORG), split at unescaped ';', each unescaped.
QStringList components(const QString &value, const QString &listSeparator);

} // namespace meridoc::cards::vcard
