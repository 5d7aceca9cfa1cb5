#pragma once

#include "data/entryrecord.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <initializer_list>

namespace testsupport {

// A fresh program directory for one test. AppState points at it and starts empty; the record
// buffers are cleared. Removed with everything in it at the end of the test.
class TempProgramDir {
public:
    TempProgramDir();
    ~TempProgramDir();

    QString path() const; // ends with '/'
    QString file(const QString &name) const { return path() + name; }

    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    bool exists(const QString &name) const;
    QStringList entries() const; // file names, sorted
    // Takes every write permission bit off a file (it stays readable).
    void makeReadOnly(const QString &name) const;

    // Points AppState at this directory with the given current card file and extension.
    void useCardFile(const QString &baseName,
                     const QString &extension = QStringLiteral("CRD")) const;

private:
    QTemporaryDir dir_;
};

using Fields = std::array<QByteArray, meridoc::FieldCount>;

// The 135 bytes of a record holding the five fields; the bytes after each field's characters are
// filled with `junk` so tests notice when they are not carried along.
QByteArray recordBytes(const Fields &fields, char junk = '\0');
// A card file made of the given records, in this order.
QByteArray cardFileBytes(std::initializer_list<Fields> records, char junk = '\0');
// The records of a card file's bytes (whole records only).
QList<Fields> recordsOf(const QByteArray &bytes);

} // namespace testsupport
