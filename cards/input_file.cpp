#include "input_file.h"

#include "commands.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace meridoc::cards {

InputFile::InputFile(const QString &name) : file_(name) {
    struct stat st {};
    const QByteArray path = QFile::encodeName(name);
    if (::stat(path.constData(), &st) != 0)
        throw Failure(QStringLiteral("%1: %2").arg(name, QString::fromLocal8Bit(strerror(errno))));
    if (!S_ISREG(st.st_mode))
        throw Failure(QStringLiteral("%1: not a regular file").arg(name));
    if (!file_.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("%1: %2").arg(name, file_.errorString()));
    if (file_.size() == 0)
        return;
    if (uchar *p = file_.map(0, file_.size())) {
        bytes_ = QByteArrayView(p, file_.size());
        return;
    }
    copy_ = file_.readAll();
    if (copy_.size() != file_.size())
        throw Failure(QStringLiteral("%1: %2").arg(name, file_.errorString()));
    bytes_ = copy_;
}

} // namespace meridoc::cards
