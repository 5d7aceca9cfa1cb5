#include "errors.h"

#include <cerrno>
#include <cstring>

namespace meridoc {

Exception::Exception(const QString &message)
    : std::runtime_error(message.toStdString()), message_(message) {}

EInOutError::EInOutError(int code) : Exception(messageFor(code)), code_(code) {}

QString EInOutError::messageFor(int code) {
    switch (code) {
    case 2:
        return QStringLiteral("File not found");
    case 3:
        return QStringLiteral("Invalid filename");
    case 4:
        return QStringLiteral("Too many open files");
    case 5:
        return QStringLiteral("File access denied");
    case 100:
        return QStringLiteral("Read beyond end of file");
    case 101:
        return QStringLiteral("Disk full");
    case 106:
        return QStringLiteral("Invalid numeric input");
    default:
        if (code > ioerror::ErrnoBase)
            return QStringLiteral("I/O error %1: %2")
                .arg(code)
                .arg(QString::fromLocal8Bit(std::strerror(code - ioerror::ErrnoBase)));
        return QStringLiteral("I/O error %1").arg(code);
    }
}

int EInOutError::codeFromErrno(int err) {
    switch (err) {
    case ENOENT:
        return ioerror::FileNotFound;
    case ENOTDIR:
    case EINVAL:
    case ENAMETOOLONG:
        return ioerror::PathNotFound;
    case EMFILE:
    case ENFILE:
        return ioerror::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ioerror::AccessDenied;
    case ENOSPC:
    case EDQUOT:
        return ioerror::DiskFull;
    default:
        return ioerror::ErrnoBase + err;
    }
}

void EInOutError::raiseFromErrno(int err) {
    throw EInOutError(codeFromErrno(err));
}

} // namespace meridoc
