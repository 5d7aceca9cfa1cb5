#pragma once

#include "data/files.h"
#include "data/recordfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace meridoc::cards {

// Records of any length in an unnamed scratch file in `dir` instead of memory: written one after
// another, then read back in the same order (as often as rewound). Memory: a buffer of 16 KiB
// each way, and the longest record. The file is made only once the buffer is full: an import's
// many small spools (one per partition of the extra texts) then never touch the disk. Throws
// EInOutError.
class Spool {
public:
    explicit Spool(const QString &dir) : dir_(dir) {}

    void add(const QByteArray &record);
    // Starts reading from the first record.
    void rewind();
    // The next record, or nothing after the last.
    std::optional<QByteArray> next();

private:
    void flush();
    bool take(char *out, qint64 length);

    QString dir_;
    std::optional<files::File> file_; // made at the first flush
    QByteArray out_;                  // written but not yet in the file
    qint64 written_ = 0;              // bytes in the file
    QByteArray buffer_;               // read but not yet taken, from readPos_ on
    qsizetype readPos_ = 0;
    qint64 fileOffset_ = 0; // of the first byte after buffer_
};

// The parts of a spool record written one after another as their bytes are held (numbers, then
// texts as their UTF-16 units): through QDataStream, writing and reading an import's records took
// a sixth of the import.
class SpoolRecord {
public:
    void clear() { bytes_.resize(0); } // keeps the capacity for the next record
    template <typename T> void put(T value) {
        bytes_.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    void putText(const QString &text);
    void putBytes(const char *data, qsizetype size) { bytes_.append(data, size); }
    const QByteArray &bytes() const { return bytes_; }

private:
    QByteArray bytes_;
};

// Reads a record's parts back in the order they were put; throws EInOutError for a record that
// ends early.
class SpoolRecordReader {
public:
    explicit SpoolRecordReader(const QByteArray &bytes)
        : at_(bytes.constData()), end_(at_ + bytes.size()) {}
    template <typename T> T get() {
        T value;
        getBytes(reinterpret_cast<char *>(&value), sizeof value);
        return value;
    }
    QString text();
    void getBytes(char *out, qsizetype size);
    bool atEnd() const { return at_ == end_; }

private:
    const char *at_;
    const char *end_;
};

// What the import report needs of one contact once its entry is made.
struct ContactNote {
    qint64 number = 0; // the contact's place among all contacts read
    QString file;      // as named on the command line
    int line = 0;
    QString who;        // the contact's name as the source gives it
    QStringList losses; // what the record could not hold
    EntryRecord record; // the entry made of it
};

// The notes of an import, in a spool in `dir` (the file as its place among the files named).
class NoteSpool {
public:
    explicit NoteSpool(const QString &dir) : spool_(dir) {}
    void add(const ContactNote &note);
    void rewind() { spool_.rewind(); }
    std::optional<ContactNote> next();

private:
    Spool spool_;
    QStringList files_; // the files named in the notes, each once
    SpoolRecord record_;
};

} // namespace meridoc::cards
