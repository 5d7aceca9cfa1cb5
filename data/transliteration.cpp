#include "transliteration.h"

#include "text.h"

#include <QHash>
#include <QMutex>

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>
#include <utility>

namespace meridoc {
namespace {

bool inCp1252(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return true;
    return c <= 0xFFFF && text::inCp1252(char16_t(c));
}

void append(QString &to, char32_t c) { // no string made for each character
    if (QChar::requiresSurrogates(c))
        to.append(QChar(QChar::highSurrogate(c))).append(QChar(QChar::lowSurrogate(c)));
    else
        to.append(QChar(char16_t(c)));
}

// Scripts whose Latin forms carry tone and length marks rather than letters of their own.
bool romanizedInAscii(char32_t c) {
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Hangul:
    case QChar::Script_Bopomofo:
        return true;
    default:
        return false;
    }
}

std::unique_ptr<icu::Transliterator> transliterator(const char *id) {
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(
        icu::Transliterator::createInstance(id, UTRANS_FORWARD, error));
    return U_FAILURE(error) ? nullptr : std::move(t);
}

QString apply(const icu::Transliterator *t, const QString &s) {
    if (!t)
        return s;
    icu::UnicodeString u(reinterpret_cast<const UChar *>(s.utf16()), int(s.size()));
    t->transliterate(u);
    return QString(reinterpret_cast<const QChar *>(u.getBuffer()), u.length());
}

// ICU's transliterators are built once; writing a run of characters in Latin letters costs tens
// of microseconds (measured: 65 us for a six-letter Cyrillic name), so each run's result is
// remembered: names repeat within an import. What is remembered is bounded in bytes, not in
// names, so that ever new or very long names do not grow memory; a run too long to be worth
// remembering is written anew each time.
class Latin {
public:
    QString of(const QString &run) {
        const QMutexLocker lock(&mutex_);
        if (const auto found = cache_.constFind(run); found != cache_.cend())
            return *found;
        QString out = written(run);
        const std::size_t cost = costOf(run, out);
        if (cost <= MaxCachedBytes / 64) {
            if (bytes_ + cost > MaxCachedBytes) {
                cache_.clear();
                bytes_ = 0;
            }
            cache_.insert(run, out);
            bytes_ += cost;
        }
        return out;
    }

    std::size_t bytes() {
        const QMutexLocker lock(&mutex_);
        return bytes_;
    }

    static Latin &instance() {
        static Latin latin;
        return latin;
    }

private:
    Latin() : toLatin_(transliterator("Any-Latin")), toAscii_(transliterator("Latin-ASCII")) {}

    static std::size_t costOf(const QString &run, const QString &out) {
        return std::size_t(run.size() + out.size()) * sizeof(QChar) + 64; // with the hash node
    }

    QString written(const QString &run) const {
        const char32_t first = run.toUcs4().value(0);
        QString latin = apply(toLatin_.get(), run);
        // Scripts without letter case give lower-case Latin: each word starts with a capital.
        if (!u_hasBinaryProperty(UChar32(first), UCHAR_CASED)) {
            for (qsizetype i = 0; i < latin.size(); ++i)
                if (i == 0 || latin[i - 1] == u' ')
                    latin[i] = latin[i].toUpper();
        }
        if (romanizedInAscii(first))
            latin = apply(toAscii_.get(), latin);
        return fitted(latin);
    }

    // The Latin form with what Windows-1252 lacks written in ASCII, run by run.
    QString fitted(const QString &latin) const {
        QString out, rest;
        const auto flush = [&] {
            for (const char32_t c : apply(toAscii_.get(), std::exchange(rest, {})).toUcs4())
                appendBase(out, c);
        };
        for (const char32_t c : latin.toUcs4()) {
            if (inCp1252(c)) {
                flush();
                append(out, c);
            } else {
                append(rest, c);
            }
        }
        flush();
        return out;
    }

    // A character that is still beyond Windows-1252: its base letters if it has any, an
    // apostrophe for a sign like the ayin's "ʿ", otherwise nothing (an emoji); never a question
    // mark.
    static void appendBase(QString &out, char32_t c) {
        if (inCp1252(c)) {
            append(out, c);
            return;
        }
        const qsizetype before = out.size();
        const QString parts = QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD);
        for (const char32_t part : parts.toUcs4())
            if (inCp1252(part) && !QChar::isMark(part))
                append(out, part);
        if (out.size() == before && QChar::category(c) == QChar::Letter_Modifier)
            out += QLatin1Char('\'');
    }

    static constexpr std::size_t MaxCachedBytes = std::size_t(2) << 20;
    QMutex mutex_;
    std::unique_ptr<icu::Transliterator> toLatin_;
    std::unique_ptr<icu::Transliterator> toAscii_;
    QHash<QString, QString> cache_;
    std::size_t bytes_ = 0;
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

std::size_t transliterationCacheBytes() {
    return Latin::instance().bytes();
}

} // namespace meridoc
