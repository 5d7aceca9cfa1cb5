#include "output.h"

#include "commands.h"

#include "data/errors.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace meridoc::cards {
namespace {

constexpr qsizetype BufferSize = 256 * 1024;

[[noreturn]] void fail(const QString &path, const Exception &e) {
    throw Failure(e.message(), path);
}

} // namespace

AtomicFile::AtomicFile(const QString &target) : target_(target) {
    // A read-only file is not replaced behind its owner's back, as in the program folder.
    if (QFile::exists(target) && files::isReadOnly(target))
        throw Failure(EInOutError::messageFor(ioerror::AccessDenied), target);
    const qsizetype slash = target.lastIndexOf('/');
    const QString dir = slash >= 0 ? target.left(slash + 1) : QString();
    const QString name = target.mid(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = dir + '.' + name + ".tmp-" +
                QString::number(QRandomGenerator::global()->generate64(), 16);
        const int fd = ::open(QFile::encodeName(temp_).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file_ = files::File::adopt(fd);
            return;
        }
        if (errno != EEXIST)
            break;
    }
    const int err = errno;
    temp_.clear();
    throw Failure(EInOutError::messageFor(EInOutError::codeFromErrno(err)), target);
}

AtomicFile::~AtomicFile() {
    if (!committed_ && !temp_.isEmpty())
        ::unlink(QFile::encodeName(temp_).constData());
}

void AtomicFile::flush() {
    try {
        file_.writeAt(buffer_.constData(), buffer_.size(), offset_);
    } catch (const Exception &e) {
        fail(target_, e);
    }
    offset_ += buffer_.size();
    buffer_.clear();
}

void AtomicFile::write(const QByteArray &bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= BufferSize)
        flush();
}

void AtomicFile::commit() {
    flush();
    try {
        file_.sync();
        file_.close();
        files::replaceFile(temp_, target_);
    } catch (const Exception &e) {
        fail(target_, e);
    }
    committed_ = true;
}

void WriteFileAtomically(const QString &target, const QByteArray &bytes) {
    AtomicFile file(target);
    file.write(bytes);
    file.commit();
}

void Output::write(const QByteArray &bytes) {
    if (file_)
        file_->write(bytes);
    else
        std::fwrite(bytes.constData(), 1, bytes.size(), stream_);
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
