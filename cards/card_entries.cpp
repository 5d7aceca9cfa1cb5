#include "card_entries.h"

#include "commands.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/extratext_io.h"
#include "data/text.h"

#include <QFile>
#include <QTextDocument>

#include <cstdint>

namespace meridoc::cards {

CardEntries::CardEntries(const QString &cardFile) : path_(cardFile) {
    try {
        reader_ = std::make_unique<CardFileReader>(path_);
    } catch (const Exception &e) {
        throw Failure(e.message(), path_);
    }
    count_ = reader_->recordCount();
}

CardEntries::~CardEntries() = default;

const EntryRecord *CardEntries::next() {
    try {
        return reader_->next();
    } catch (const Exception &e) {
        throw Failure(e.message(), path_);
    }
}

ExtraTexts::ExtraTexts(const ApplicationState &folder) : folder_(folder) {
    // A name outside Windows-1252 may collide ('?'); such a candidate is then looked up properly.
    for (const QByteArray &key : folder_.keys())
        quickHashes_.set(quickHash(key, {}));
}

// FNV-1a of the two byte strings joined and upper-cased, codes 0 to 32 left out, folded to the
// bitset's size. Leaving them all out (not only the ends ExtraTextKey trims) costs only a rare
// needless set lookup, and spares working out where the trimmed key begins and ends.
std::size_t ExtraTexts::quickHash(QByteArrayView first, QByteArrayView second) {
    std::uint32_t h = 2166136261u;
    for (const QByteArrayView part : {first, second}) {
        for (const char byte : part) {
            const auto c = static_cast<unsigned char>(byte);
            if (c > ' ')
                h = (h ^ ((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c)) * 16777619u;
        }
    }
    return (h ^ (h >> 16)) & 0xFFFF;
}

bool ExtraTexts::has(QByteArrayView name, QByteArrayView surname) const {
    return quickHashes_.test(quickHash(name, surname)) &&
           folder_.keys().contains(ExtraTextKey(name.toByteArray(), surname.toByteArray()));
}

QByteArray ExtraTexts::shownPath(const QString &file) const {
    // Most often the exact name; an older spelling is looked for only when there is none.
    const QString exact = folder_.existingPath(file);
    return !exact.isEmpty() ? QFile::encodeName(exact) : FindExtraText(folder_.folder(), file);
}

QString ExtraTexts::plainText(QByteArrayView name, QByteArrayView surname) {
    if (!has(name, surname))
        return {};
    const QString file = ViewerExtraTextName(text::fromCp1252(name.toByteArray()),
                                             text::fromCp1252(surname.toByteArray()));
    if (file == lastName_)
        return lastText_;
    QString plain;
    const QByteArray path = shownPath(file);
    if (!path.isEmpty()) {
        QTextDocument doc;
        try {
            LoadExtraTextFile(path, doc);
        } catch (const Exception &e) {
            throw Failure(e.message(), QFile::decodeName(path));
        }
        plain = doc.toPlainText();
        plain.replace(QChar::LineSeparator, '\n');
        plain.replace(QChar::ParagraphSeparator, '\n');
        plain.replace(QChar::Nbsp, ' ');
        qsizetype end = plain.size();
        while (end > 0 && plain[end - 1].unicode() <= ' ')
            --end;
        plain.truncate(end);
    }
    lastName_ = file;
    lastText_ = plain;
    return plain;
}

} // namespace meridoc::cards
