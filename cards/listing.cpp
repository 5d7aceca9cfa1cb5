#include "listing.h"

#include "card_entries.h"

#include "data/text.h"

#include <QRegularExpression>

#include <array>

namespace meridoc::cards {
namespace {

constexpr qsizetype MinPhoneSuffix = 7;
const std::array<const char *, FieldCount> JsonKeys = {"name", "surname", "phone1", "phone2",
                                                       "comments"};

QString jsonString(const QString &s) {
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += QStringLiteral("\\n");
        } else if (c == '\t') {
            out += QStringLiteral("\\t");
        } else if (c.unicode() < 0x20) {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + '"';
}

// Prints matched records as lines or as one JSON array, opened at the first record.
class Printer {
public:
    Printer(std::FILE *out, bool json) : out_(out), json_(json) {}

    void print(const EntryRecord &record) {
        QString line;
        for (int i = 0; i < FieldCount; ++i) {
            QString value = text::fromCp1252(record.field(static_cast<Field>(i)));
            if (json_) {
                line += QLatin1String(i == 0 ? (count_ == 0 ? "[\n  {" : ",\n  {") : ", ");
                line += jsonString(QLatin1String(JsonKeys[i])) + ": " + jsonString(value);
            } else {
                // A control character (a NUL too) would break the line or its columns.
                for (QChar &c : value) {
                    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                        c = ' ';
                }
                line += (i == 0 ? QString() : QStringLiteral("\t")) + value;
            }
        }
        line += QLatin1String(json_ ? "}" : "\n");
        const QByteArray bytes = line.toUtf8();
        std::fwrite(bytes.constData(), 1, bytes.size(), out_);
        ++count_;
    }

    // Closes the array; an empty listing is "[]" when `always`, nothing otherwise.
    void finish(bool always) {
        if (json_ && count_ > 0)
            std::fputs("\n]\n", out_);
        else if (json_ && always)
            std::fputs("[]\n", out_);
        if (std::fflush(out_) != 0 || std::ferror(out_))
            throw Failure(QStringLiteral("cannot write the output"));
    }

    long long count() const { return count_; }

private:
    std::FILE *out_;
    bool json_;
    long long count_ = 0;
};

} // namespace

QString DigitsOf(const QString &text) {
    // After a country code, "(0)" shows the trunk prefix dialled at home: "+49 (0)170 ..." is
    // "+49 170 ..." from abroad and "0170 ..." at home.
    QString number = text.trimmed();
    if (number.startsWith(u'+') || number.startsWith(QLatin1String("00"))) {
        static const QRegularExpression trunk(QStringLiteral("\\(\\s*0\\s*\\)"));
        number.remove(trunk);
    }
    QString digits;
    for (const QChar c : number) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    return digits;
}

bool PhoneMatches(QStringView phoneDigits, QStringView wantedDigits) {
    // Leading zeros are a trunk or international prefix ("08 ...", "0046 8 ..."), not the number.
    while (phoneDigits.startsWith(u'0'))
        phoneDigits = phoneDigits.mid(1);
    while (wantedDigits.startsWith(u'0'))
        wantedDigits = wantedDigits.mid(1);
    if (phoneDigits.isEmpty() || wantedDigits.isEmpty())
        return false;
    const bool phoneShorter = phoneDigits.size() <= wantedDigits.size();
    const QStringView shorter = phoneShorter ? phoneDigits : wantedDigits;
    const QStringView longer = phoneShorter ? wantedDigits : phoneDigits;
    if (shorter.size() == longer.size())
        return shorter == longer;
    return shorter.size() >= MinPhoneSuffix && longer.endsWith(shorter);
}

void RunList(const CommandContext &ctx, bool json) {
    CardEntries entries(ctx.cardFile());
    Printer printer(ctx.out, json);
    while (const EntryRecord *record = entries.next())
        printer.print(*record);
    printer.finish(true);
}

bool RunFind(const CommandContext &ctx, const FindRequest &request) {
    CardEntries entries(ctx.cardFile());
    ExtraTexts extraTexts(ctx.folder());
    Printer printer(ctx.out, request.json);
    const QString wantedDigits = DigitsOf(request.phone);
    while (const EntryRecord *record = entries.next()) {
        if (!request.phone.isEmpty() &&
            !PhoneMatches(DigitsOf(text::fromCp1252(record->PHONE1())), wantedDigits) &&
            !PhoneMatches(DigitsOf(text::fromCp1252(record->PHONE2())), wantedDigits))
            continue;
        if (!request.text.isEmpty()) {
            bool found = false;
            for (int i = 0; i < FieldCount && !found; ++i)
                found = text::fromCp1252(record->field(static_cast<Field>(i)))
                            .contains(request.text, Qt::CaseInsensitive);
            if (!found)
                found = extraTexts.plainText(record->NAME(), record->SURNAME())
                            .contains(request.text, Qt::CaseInsensitive);
            if (!found)
                continue;
        }
        printer.print(*record);
    }
    printer.finish(false);
    return printer.count() > 0;
}

} // namespace meridoc::cards
