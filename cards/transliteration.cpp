#include "transliteration.h"

#include "data/text.h"

#include <QHash>

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>
#include <utility>

namespace meridoc::cards {
namespace {

bool inCp1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return true;
    return c <= 0xFFFF && text::inCp1252(char16_t(c));
}

// ICU's transliterator is built once; writing a run of characters in Latin letters costs tens of
// microseconds (measured: 65 us for a six-letter Cyrillic name), so each run's result is
// remembered: names repeat within an import. The table starts afresh at a few thousand, so that
// an input of ever new names does not grow memory.
class Latin {
public:
    QString of(const QString &run) {
        const auto found = cache_.constFind(run);
        if (found != cache_.cend())
            return *found;
        QString latin = run;
        if (translit_) {
            icu::UnicodeString u(reinterpret_cast<const UChar *>(run.utf16()), int(run.size()));
            translit_->transliterate(u);
            latin = QString(reinterpret_cast<const QChar *>(u.getBuffer()), u.length());
        }
        // Scripts without letter case give lower-case Latin: each word starts with a capital.
        const bool caseless = !u_hasBinaryProperty(UChar32(run.toUcs4().value(0)), UCHAR_CASED);
        for (qsizetype i = 0; caseless && i < latin.size(); ++i)
            if (i == 0 || latin[i - 1] == u' ')
                latin[i] = latin[i].toUpper();
        // What has no Latin form (an emoji) stays a question mark.
        QString out;
        for (const char32_t c : latin.toUcs4())
            out += inCp1252(c) ? QString::fromUcs4(&c, 1) : QStringLiteral("?");
        if (cache_.size() >= MaxCached) // names that keep changing must not grow memory
            cache_.clear();
        cache_.insert(run, out);
        return out;
    }

    static Latin &instance() {
        static Latin latin;
        return latin;
    }

private:
    Latin() {
        UErrorCode error = U_ZERO_ERROR;
        translit_.reset(
            icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, error));
        if (U_FAILURE(error))
            translit_.reset();
    }

    static constexpr qsizetype MaxCached = 4096;
    std::unique_ptr<icu::Transliterator> translit_;
    QHash<QString, QString> cache_;
};

} // namespace

QByteArray toCp1252Latin(const QString &text, bool *changed) {
    bool ascii = true, fits = true;
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            continue;
        ascii = false;
        if (!inCp1252(c.unicode())) {
            fits = false;
            break;
        }
    }
    if (changed)
        *changed = !fits;
    if (ascii)
        return text.toLatin1();
    if (fits)
        return text::toCp1252(text);

    // Runs of characters Windows-1252 lacks go to the transliterator whole, so that it sees
    // their context (Greek "ου" is "ou", Chinese syllables are words of their own).
    QString out;
    QString run;
    const auto append = [](QString &to, char32_t c) { // no string made for each character
        if (QChar::requiresSurrogates(c))
            to.append(QChar(QChar::highSurrogate(c))).append(QChar(QChar::lowSurrogate(c)));
        else
            to.append(QChar(char16_t(c)));
    };
    for (const char32_t c : text.toUcs4()) {
        if (!inCp1252(c)) {
            append(run, c);
            continue;
        }
        if (!run.isEmpty())
            out += Latin::instance().of(std::exchange(run, {}));
        append(out, c);
    }
    if (!run.isEmpty())
        out += Latin::instance().of(run);
    return text::toCp1252(out);
}

} // namespace meridoc::cards
