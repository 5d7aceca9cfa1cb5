#include "program_dir.h"

#include "data/appstate.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace testsupport {

TempProgramDir::TempProgramDir() {
    EXPECT_TRUE(dir_.isValid());
    meridoc::AppState = {path(), {}, {}};
    meridoc::RecordBuffer = {};
    meridoc::DroppedEntry = {};
    meridoc::ReplacementEntry = {};
}

TempProgramDir::~TempProgramDir() {
    // Give write permission back so the directory can be removed.
    QDir d(dir_.path());
    for (const QString &name : d.entryList(QDir::Files | QDir::Hidden | QDir::System))
        ::chmod(QFile::encodeName(d.filePath(name)).constData(), 0644);
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0755);
    meridoc::AppState = {};
}

QString TempProgramDir::path() const {
    return dir_.path() + '/';
}

void TempProgramDir::write(const QString &name, const QByteArray &bytes) const {
    QFile f(file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << name.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray TempProgramDir::read(const QString &name) const {
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool TempProgramDir::exists(const QString &name) const {
    return QFile::exists(file(name));
}

QStringList TempProgramDir::entries() const {
    return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void TempProgramDir::makeReadOnly(const QString &name) const {
    ASSERT_EQ(::chmod(QFile::encodeName(file(name)).constData(), 0444), 0);
}

void TempProgramDir::useCardFile(const QString &baseName, const QString &extension) const {
    meridoc::AppState.ProgramDir = path();
    meridoc::AppState.CurrentFileName = baseName;
    meridoc::AppState.CardExtension = extension;
}

QByteArray recordBytes(const Fields &fields, char junk) {
    meridoc::EntryRecord r;
    r.bytes.fill(static_cast<unsigned char>(junk));
    for (int i = 0; i < meridoc::FieldCount; ++i) {
        const auto f = static_cast<meridoc::Field>(i);
        const int length = std::min<int>(fields[i].size(), meridoc::EntryRecord::maxLength(f));
        r.bytes[meridoc::EntryRecord::offset(f)] = static_cast<unsigned char>(length);
        std::memcpy(r.bytes.data() + meridoc::EntryRecord::offset(f) + 1, fields[i].constData(),
                    length);
    }
    return QByteArray(reinterpret_cast<const char *>(r.bytes.data()), meridoc::EntryRecord::Size);
}

QByteArray cardFileBytes(std::initializer_list<Fields> records, char junk) {
    QByteArray out;
    for (const Fields &f : records)
        out += recordBytes(f, junk);
    return out;
}

QList<Fields> recordsOf(const QByteArray &bytes) {
    QList<Fields> out;
    for (qsizetype at = 0; at + meridoc::EntryRecord::Size <= bytes.size();
         at += meridoc::EntryRecord::Size) {
        meridoc::EntryRecord r;
        std::memcpy(r.bytes.data(), bytes.constData() + at, meridoc::EntryRecord::Size);
        out.append(r.fields());
    }
    return out;
}

} // namespace testsupport
