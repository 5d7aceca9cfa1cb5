#include "sync_lock.h"

#include "commands.h"
#include "sync_state.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace meridoc::cards {

SyncFolderLock::SyncFolderLock(const QString &folder) {
    CheckStateFolder(folder); // the lock file is never made where a link leads
    const QString dir = QDir(folder).filePath(SyncStateFolderName);
    if (!QDir().mkpath(dir))
        throw Failure(QStringLiteral("cannot create the folder"), dir);
    const QString path = dir + QStringLiteral("/lock");
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw Failure(QString::fromLocal8Bit(std::strerror(errno)), path);
    int rc;
    while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        throw Failure(QString::fromLocal8Bit(std::strerror(error)), path);
    }
    fd_ = fd;
}

SyncFolderLock::~SyncFolderLock() {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
}

} // namespace meridoc::cards
