#pragma once

#include "data/files.h"
#include "data/recordfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace meridoc::cards {

// What the import report needs of one contact once its entry is made.
struct ContactNote {
    qint64 number = 0; // the contact's place among all contacts read
    QString file;      // as named on the command line
    int line = 0;
    QString who;        // the contact's name as the source gives it
    QStringList losses; // what the record could not hold
    EntryRecord record; // the entry made of it
};

// The notes of an import, kept in an unnamed scratch file instead of memory: written one after
// another, then read back in the same order. Throws EInOutError.
class NoteSpool {
public:
    NoteSpool() : file_(ScratchFile()), writer_(file_) {}

    void add(const ContactNote &note);
    // Starts reading from the first note.
    void rewind();
    // The next note, or nothing after the last.
    std::optional<ContactNote> next();

private:
    bool take(char *out, qint64 length);

    files::File file_;
    RecordWriter writer_;
    QByteArray buffer_; // read but not yet taken, from readPos_ on
    qsizetype readPos_ = 0;
    qint64 fileOffset_ = 0; // of the first byte after buffer_
};

} // namespace meridoc::cards
