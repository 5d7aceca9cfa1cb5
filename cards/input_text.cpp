#include "input_text.h"

#include "commands.h"
#include "decoding.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc::cards {

namespace {

constexpr qint64 BlockSize = 64 * 1024;

qint64 mtimeNs(const struct stat &st) {
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString sizeText(qsizetype bytes) {
    if (bytes % (1 << 20) == 0)
        return QStringLiteral("%1 MiB").arg(bytes >> 20);
    return QStringLiteral("%1 KiB").arg(bytes >> 10);
}

std::optional<QString> refusedName(const Contact &contact) {
    for (const QString *name : {&contact.given, &contact.family, &contact.formatted})
        if (name->size() > MaxNameCharacters)
            return QStringLiteral("a name longer than %1 characters").arg(MaxNameCharacters);
    return std::nullopt;
}

InputText::InputText(const QString &fileName) : fileName_(fileName) {
    fd_ = ::open(QFile::encodeName(fileName).constData(),
                 O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0)
        throw Failure(errnoText(errno), fileName);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        ::close(fd_);
        throw Failure(errnoText(error), fileName);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        throw Failure(QStringLiteral("not a regular file"), fileName);
    }
    size_ = st.st_size;
    mtimeNs_ = mtimeNs(st);
}

InputText::InputText(QByteArrayView bytes) : size_(bytes.size()), memory_(bytes) {}

InputText::~InputText() {
    if (fd_ >= 0)
        ::close(fd_);
}

qint64 InputText::readRaw(char *out, qint64 max) {
    max = std::min(max, size_ - offset_);
    if (max <= 0) {
        if (fd_ >= 0) { // the whole file is read: it must still be the file that was opened
            struct stat st {};
            if (::fstat(fd_, &st) != 0 || st.st_size != size_ || mtimeNs(st) != mtimeNs_)
                throw Failure(QStringLiteral("the file changed while it was read"), fileName_);
        }
        return 0;
    }
    if (fd_ < 0) {
        std::memcpy(out, memory_.data() + offset_, std::size_t(max));
        offset_ += max;
        return max;
    }
    for (;;) {
        const ssize_t n = ::pread(fd_, out, std::size_t(max), offset_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Failure(errnoText(errno), fileName_);
        if (n == 0)
            throw Failure(QStringLiteral("the file changed while it was read"), fileName_);
        offset_ += n;
        return n;
    }
}

bool InputText::fill() {
    char block[BlockSize];
    qint64 n = readRaw(block, BlockSize);
    if (!started_) {
        started_ = true;
        // A byte-order mark is read whole even when the first read returns less.
        while (n > 0 && n < 3 && offset_ < size_) {
            const qint64 more = readRaw(block + n, BlockSize - n);
            if (more == 0)
                break;
            n += more;
        }
        const QByteArrayView first(block, n);
        const decoding::Bom bom = decoding::detectBom(first);
        if (bom == decoding::Bom::Utf16LE)
            utf16_.emplace(QStringConverter::Utf16LE);
        else if (bom == decoding::Bom::Utf16BE)
            utf16_.emplace(QStringConverter::Utf16BE);
        const int skip = decoding::bomLength(bom);
        if (utf16_)
            buffer_ += QString((*utf16_)(first.sliced(skip))).toUtf8();
        else
            buffer_.append(first.sliced(skip));
        return n > 0;
    }
    if (n == 0)
        return false;
    if (utf16_)
        buffer_ += QString((*utf16_)(QByteArrayView(block, n))).toUtf8();
    else
        buffer_.append(block, n);
    return true;
}

QByteArrayView InputText::head(qsizetype n) {
    while (buffer_.size() - pos_ < n && fill()) {
    }
    return QByteArrayView(buffer_).sliced(pos_, std::min(n, buffer_.size() - pos_));
}

bool InputText::readLine(QByteArray &line, qsizetype limit, bool bareCr) {
    qsizetype scanned = 0; // bytes from pos_ on known to hold no line break
    for (;;) {
        const char *begin = buffer_.constData() + pos_;
        const qsizetype held = buffer_.size() - pos_;
        qsizetype end = -1;
        if (bareCr) {
            for (qsizetype i = scanned; i < held; ++i)
                if (begin[i] == '\n' || begin[i] == '\r') {
                    end = i;
                    break;
                }
        } else if (const void *nl =
                       std::memchr(begin + scanned, '\n', std::size_t(held - scanned))) {
            end = static_cast<const char *>(nl) - begin;
        }
        // A '\r' at the end of what is held may be the first half of "\r\n".
        if (end >= 0 && bareCr && begin[end] == '\r' && end + 1 == held && fill())
            continue;
        if (end >= 0 || held > limit) {
            const qsizetype length = end >= 0 ? end : held;
            if (length > limit)
                throw InputRefusal{number_ + 1,
                                   QStringLiteral("line longer than %1").arg(sizeText(limit))};
            qsizetype next = length + 1;
            if (end >= 0 && begin[end] == '\r' && end + 1 < held && begin[end + 1] == '\n')
                ++next;
            line = QByteArray(begin, length);
            if (!bareCr && line.endsWith('\r'))
                line.chop(1);
            pos_ += next;
            ++number_;
            return true;
        }
        scanned = held;
        if (pos_ > 0) {
            buffer_.remove(0, pos_);
            pos_ = 0;
        }
        if (!fill()) {
            if (held == 0)
                return false;
            line = buffer_;
            if (line.endsWith('\r'))
                line.chop(1);
            buffer_.clear();
            ++number_;
            return true;
        }
    }
}

} // namespace meridoc::cards
