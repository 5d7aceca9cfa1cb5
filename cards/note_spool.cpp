#include "note_spool.h"

#include "data/errors.h"

#include <QDataStream>
#include <QIODevice>

#include <cstring>

namespace meridoc::cards {

namespace {
constexpr qint64 BufferSize = 16 * 1024;
}

void Spool::add(const QByteArray &record) {
    const quint32 length = quint32(record.size());
    out_.append(reinterpret_cast<const char *>(&length), sizeof length);
    out_.append(record);
    if (out_.size() >= BufferSize)
        flush();
}

void Spool::flush() {
    file_.writeAt(out_.constData(), out_.size(), written_);
    written_ += out_.size();
    out_.clear();
}

void Spool::rewind() {
    flush();
    buffer_.clear();
    readPos_ = 0;
    fileOffset_ = 0;
}

bool Spool::take(char *out, qint64 length) {
    while (buffer_.size() - readPos_ < length) {
        buffer_.remove(0, readPos_);
        readPos_ = 0;
        const qsizetype held = buffer_.size();
        const qint64 want = std::max(BufferSize, length - held);
        buffer_.resize(held + want);
        const qint64 got = file_.readAt(buffer_.data() + held, want, fileOffset_);
        buffer_.resize(held + got);
        fileOffset_ += got;
        if (got == 0) {
            if (held > 0) // a record written only in part
                throw EInOutError(ioerror::ReadBeyondEnd);
            return false;
        }
    }
    std::memcpy(out, buffer_.constData() + readPos_, std::size_t(length));
    readPos_ += length;
    return true;
}

std::optional<QByteArray> Spool::next() {
    quint32 length = 0;
    if (!take(reinterpret_cast<char *>(&length), sizeof length))
        return std::nullopt;
    QByteArray bytes(length, Qt::Uninitialized);
    if (!take(bytes.data(), length))
        throw EInOutError(ioerror::ReadBeyondEnd);
    return bytes;
}

void NoteSpool::add(const ContactNote &note) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << note.number << note.file << qint32(note.line) << note.who << note.losses
        << QByteArray(reinterpret_cast<const char *>(note.record.bytes.data()), EntryRecord::Size);
    spool_.add(bytes);
}

std::optional<ContactNote> NoteSpool::next() {
    const std::optional<QByteArray> bytes = spool_.next();
    if (!bytes)
        return std::nullopt;
    QDataStream in(*bytes);
    ContactNote note;
    qint32 line = 0;
    QByteArray record;
    in >> note.number >> note.file >> line >> note.who >> note.losses >> record;
    if (in.status() != QDataStream::Ok || record.size() != EntryRecord::Size)
        throw EInOutError(ioerror::ReadBeyondEnd);
    note.line = line;
    std::memcpy(note.record.bytes.data(), record.constData(), EntryRecord::Size);
    return note;
}

} // namespace meridoc::cards
