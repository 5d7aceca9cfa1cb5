#include "note_spool.h"

#include "data/errors.h"

#include <QDataStream>
#include <QIODevice>

#include <cstring>

namespace meridoc::cards {

void NoteSpool::add(const ContactNote &note) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << note.number << note.file << qint32(note.line) << note.who << note.losses
        << QByteArray(reinterpret_cast<const char *>(note.record.bytes.data()), EntryRecord::Size);
    const quint32 length = quint32(bytes.size());
    writer_.writeBytes(&length, sizeof length);
    writer_.writeBytes(bytes.constData(), bytes.size());
}

void NoteSpool::rewind() {
    writer_.flush();
    buffer_.clear();
    readPos_ = 0;
    fileOffset_ = 0;
}

bool NoteSpool::take(char *out, qint64 length) {
    constexpr qint64 ReadSize = 64 * 1024;
    while (buffer_.size() - readPos_ < length) {
        buffer_.remove(0, readPos_);
        readPos_ = 0;
        const qsizetype held = buffer_.size();
        buffer_.resize(held + ReadSize);
        const qint64 got = file_.readAt(buffer_.data() + held, ReadSize, fileOffset_);
        buffer_.resize(held + got);
        fileOffset_ += got;
        if (got == 0) {
            if (held > 0) // a note written only in part
                throw EInOutError(ioerror::ReadBeyondEnd);
            return false;
        }
    }
    std::memcpy(out, buffer_.constData() + readPos_, std::size_t(length));
    readPos_ += length;
    return true;
}

std::optional<ContactNote> NoteSpool::next() {
    quint32 length = 0;
    if (!take(reinterpret_cast<char *>(&length), sizeof length))
        return std::nullopt;
    QByteArray bytes(length, Qt::Uninitialized);
    if (!take(bytes.data(), length))
        throw EInOutError(ioerror::ReadBeyondEnd);
    QDataStream in(bytes);
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
