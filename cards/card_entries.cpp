#include "card_entries.h"

#include "commands.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/extratext_io.h"
#include "data/text.h"

#include <QDir>
#include <QTextDocument>

#include <cstdint>

namespace meridoc::cards {

CardEntries::CardEntries() : path_(CardFilePath()) {
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

ExtraTexts::ExtraTexts() {
    const QStringList names =
        QDir(AppState.ProgramDir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    // Keyed as ExtraTextKey keys an entry; a name outside Windows-1252 may collide ('?'), and
    // such a candidate is then looked up properly.
    for (const QString &name : names) {
        const QByteArray key = text::toCp1252(text::upperAscii(name));
        keys_.insert(key);
        quickHashes_.set(quickHash(key, {}));
    }
}

// FNV-1a of the two byte strings joined, trimmed and upper-cased (ExtraTextKey without building
// it), folded to the bitset's size.
std::size_t ExtraTexts::quickHash(QByteArrayView first, QByteArrayView second) {
    const auto at = [&](qsizetype i) {
        return static_cast<unsigned char>(i < first.size() ? first[i] : second[i - first.size()]);
    };
    qsizetype begin = 0, end = first.size() + second.size();
    while (begin < end && at(begin) <= ' ')
        ++begin;
    while (end > begin && at(end - 1) <= ' ')
        --end;
    std::uint32_t h = 2166136261u;
    for (qsizetype i = begin; i < end; ++i) {
        const unsigned char c = at(i);
        h = (h ^ ((c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c)) * 16777619u;
    }
    return (h ^ (h >> 16)) & 0xFFFF;
}

QString ExtraTexts::plainText(QByteArrayView name, QByteArrayView surname) {
    if (!quickHashes_.test(quickHash(name, surname)) ||
        !keys_.contains(ExtraTextKey(name.toByteArray(), surname.toByteArray())))
        return {};
    const QString file = ViewerExtraTextName(text::fromCp1252(name.toByteArray()),
                                             text::fromCp1252(surname.toByteArray()));
    if (file == lastName_)
        return lastText_;
    QString plain;
    if (ExtraTextExists(file)) {
        QTextDocument doc;
        try {
            LoadExtraText(ExtraTextPath(file), doc);
        } catch (const Exception &e) {
            throw Failure(e.message());
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
