#include "card_entries.h"

#include "commands.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/extratext_io.h"
#include "data/text.h"

#include <QDir>
#include <QTextDocument>

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
    for (const QString &name : names)
        keys_.insert(text::toCp1252(text::upperAscii(name)));
}

QString ExtraTexts::plainText(const QByteArray &name, const QByteArray &surname) {
    if (!keys_.contains(ExtraTextKey(name, surname)))
        return {};
    const QString file = ViewerExtraTextName(text::fromCp1252(name), text::fromCp1252(surname));
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
