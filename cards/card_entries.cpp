#include "card_entries.h"

#include "commands.h"
#include "export_entry.h"

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
        quickHashes_.set(quickHash(key));
    }
}

// FNV-1a, folded to the bitset's size.
std::size_t ExtraTexts::quickHash(QByteArrayView key) {
    std::uint32_t h = 2166136261u;
    for (const char c : key)
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return (h ^ (h >> 16)) & 0xFFFF;
}

// Whether the folder holds a file under the entry's ExtraTextKey, the key built on the stack.
bool ExtraTexts::mayExist(QByteArrayView name, QByteArrayView surname) const {
    char joined[64];
    if (name.size() + surname.size() > qsizetype(sizeof joined))
        return keys_.contains(ExtraTextKey(name.toByteArray(), surname.toByteArray()));
    qsizetype size = 0;
    for (const QByteArrayView part : {name, surname}) {
        for (const char c : part)
            joined[size++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const QByteArrayView key = TrimmedBytes(QByteArrayView(joined, size));
    return quickHashes_.test(quickHash(key)) &&
           keys_.contains(QByteArray::fromRawData(key.data(), key.size()));
}

QString ExtraTexts::plainText(QByteArrayView name, QByteArrayView surname) {
    if (!mayExist(name, surname))
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
