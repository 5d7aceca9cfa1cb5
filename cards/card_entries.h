#pragma once

#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/extratext.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <bitset>
#include <memory>

namespace meridoc::cards {

// The records of a card file from first to last, streamed a buffer at a time. A card-file error
// becomes a Failure naming the card file.
class CardEntries {
public:
    explicit CardEntries(const QString &cardFile);
    ~CardEntries();
    long long count() const { return count_; }
    const EntryRecord *next();

private:
    QString path_;
    std::unique_ptr<CardFileReader> reader_;
    long long count_ = 0;
};

// The extra texts of the program folder as plain text, looked up the way the viewer finds them
// (NAME and SURNAME joined and trimmed, the name matched ignoring case). The folder is listed
// once, so entries without an extra text cost no file-system call and no allocation.
class ExtraTexts {
public:
    explicit ExtraTexts(const ApplicationState &folder);
    // The plain text, lines separated by '\n', trailing blanks and line breaks removed; empty
    // when the person has no extra text. Throws Failure when the file cannot be read.
    QString plainText(QByteArrayView name, QByteArrayView surname);
    // Whether the person may have an extra text: one of its spellings is in the folder.
    bool has(QByteArrayView name, QByteArrayView surname) const;
    // The file the viewer shows for the extra-text name `file`, empty when there is none.
    QByteArray shownPath(const QString &file) const;
    const ExtraTextFolder &folder() const { return folder_; }

private:
    static std::size_t quickHash(QByteArrayView first, QByteArrayView second);

    ExtraTextFolder folder_;
    std::bitset<1 << 16> quickHashes_; // of every key: most entries without a file stop here
    QString lastName_;
    QString lastText_;
};

} // namespace meridoc::cards
