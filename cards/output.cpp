#include "output.h"

#include "commands.h"

#include "data/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>

namespace meridoc::cards {
namespace {

// Large writes keep the system calls few; each is handed to the disk at once (see writeOut).
constexpr qsizetype BufferSize = 1024 * 1024;

[[noreturn]] void fail(const QString &path, const Exception &e) {
    throw Failure(e.message(), path);
}

} // namespace

AtomicFile::AtomicFile(const QString &target) : target_(target) {
    try {
        // A read-only file is not replaced behind its owner's back, as in the program folder. The
        // new file gets what the umask leaves, like any file a command writes; a link there is
        // replaced by the file.
        file_ = std::make_unique<files::ReplacementFile>(
            target, files::newFileMode(0666),
            files::Replacement{files::Staging::Beside, files::Link::Replace});
    } catch (const Exception &e) {
        fail(target_, e);
    }
}

AtomicFile::~AtomicFile() = default;

void AtomicFile::writeOut(QByteArrayView bytes) {
    try {
        file_->file().writeAt(bytes.data(), bytes.size(), offset_);
    } catch (const Exception &e) {
        fail(target_, e);
    }
    // Starts writing these pages to the disk now, while the rest is being made, so that the
    // fsync of commit() finds little left to wait for. Only a hint: its failure changes nothing.
    ::sync_file_range(file_->file().fd(), offset_, bytes.size(), SYNC_FILE_RANGE_WRITE);
    offset_ += bytes.size();
}

void AtomicFile::flush() {
    if (buffer_.isEmpty())
        return;
    writeOut(buffer_);
    buffer_.clear();
}

void AtomicFile::write(QByteArrayView bytes) {
    if (buffer_.size() + bytes.size() < BufferSize) {
        buffer_.append(bytes);
        return;
    }
    flush();
    writeOut(bytes); // large pieces go out as they are, without a copy
}

void AtomicFile::commit() {
    flush();
    try {
        file_->commit();
    } catch (const Exception &e) {
        fail(target_, e);
    }
}

void WriteFileAtomically(const QString &target, const QByteArray &bytes) {
    AtomicFile file(target);
    file.write(bytes);
    file.commit();
}

void Output::write(QByteArrayView bytes) {
    if (file_)
        file_->write(bytes);
    else
        std::fwrite(bytes.data(), 1, std::size_t(bytes.size()), stream_);
}

void Output::finish() {
    if (file_) {
        file_->commit();
    } else if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
        throw Failure(QStringLiteral("cannot write the output: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
}

} // namespace meridoc::cards

namespace meridoc::cards {

OutputBuffer::OutputBuffer(Output &out)
    : out_(out), data_(std::make_unique_for_overwrite<char[]>(BufferSize)), capacity_(BufferSize) {}

char *OutputBuffer::reserve(std::size_t size) {
    if (capacity_ - used_ < size) {
        flush();
        if (capacity_ < size) { // one very long item
            data_ = std::make_unique_for_overwrite<char[]>(size);
            capacity_ = size;
        }
    }
    return data_.get() + used_;
}

void OutputBuffer::append(QByteArrayView bytes) {
    commit(std::copy(bytes.begin(), bytes.end(), reserve(std::size_t(bytes.size()))));
}

void OutputBuffer::flush() {
    out_.write(QByteArrayView(data_.get(), qsizetype(used_)));
    used_ = 0;
}

} // namespace meridoc::cards
