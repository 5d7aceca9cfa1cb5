#include "note_spool.h"

#include "data/errors.h"

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
    if (!file_)
        file_.emplace(ScratchFile(dir_));
    file_->writeAt(out_.constData(), out_.size(), written_);
    written_ += out_.size();
    out_.clear();
}

void Spool::rewind() {
    readPos_ = 0;
    fileOffset_ = 0;
    if (!file_) { // everything is still in the buffer: it is read from there
        buffer_ = out_;
        return;
    }
    if (!out_.isEmpty())
        flush();
    buffer_.clear();
}

bool Spool::take(char *out, qint64 length) {
    while (buffer_.size() - readPos_ < length) {
        buffer_.remove(0, readPos_);
        readPos_ = 0;
        const qsizetype held = buffer_.size();
        const qint64 want = std::max(BufferSize, length - held);
        buffer_.resize(held + want);
        const qint64 got = file_ ? file_->readAt(buffer_.data() + held, want, fileOffset_) : 0;
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

void SpoolRecord::putText(const QString &text) {
    put(qint32(text.size()));
    bytes_.append(reinterpret_cast<const char *>(text.constData()), text.size() * 2);
}

void SpoolRecordReader::getBytes(char *out, qsizetype size) {
    if (end_ - at_ < size)
        throw EInOutError(ioerror::ReadBeyondEnd);
    std::memcpy(out, at_, std::size_t(size));
    at_ += size;
}

QString SpoolRecordReader::text() {
    const auto size = get<qint32>();
    if (size < 0 || (end_ - at_) / 2 < size)
        throw EInOutError(ioerror::ReadBeyondEnd);
    QString text(size, Qt::Uninitialized);
    getBytes(reinterpret_cast<char *>(text.data()), qsizetype(size) * 2);
    return text;
}

void NoteSpool::add(const ContactNote &note) {
    qsizetype file = files_.indexOf(note.file);
    if (file < 0) {
        file = files_.size();
        files_.append(note.file);
    }
    record_.clear();
    record_.put(note.number);
    record_.put(qint32(file));
    record_.put(qint32(note.line));
    record_.putText(note.who);
    record_.put(qint32(note.losses.size()));
    for (const QString &loss : note.losses)
        record_.putText(loss);
    record_.putBytes(reinterpret_cast<const char *>(note.record.bytes.data()), EntryRecord::Size);
    spool_.add(record_.bytes());
}

std::optional<ContactNote> NoteSpool::next() {
    const std::optional<QByteArray> bytes = spool_.next();
    if (!bytes)
        return std::nullopt;
    SpoolRecordReader in(*bytes);
    ContactNote note;
    note.number = in.get<qint64>();
    const auto file = in.get<qint32>();
    if (file < 0 || file >= files_.size())
        throw EInOutError(ioerror::ReadBeyondEnd);
    note.file = files_[file];
    note.line = in.get<qint32>();
    note.who = in.text();
    for (auto losses = in.get<qint32>(); losses > 0; --losses)
        note.losses.append(in.text());
    in.getBytes(reinterpret_cast<char *>(note.record.bytes.data()), EntryRecord::Size);
    if (!in.atEnd())
        throw EInOutError(ioerror::ReadBeyondEnd);
    return note;
}

} // namespace meridoc::cards
