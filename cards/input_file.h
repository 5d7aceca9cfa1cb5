#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

namespace meridoc::cards {

// The bytes of an input file: mapped when possible, read otherwise. Throws Failure naming the
// file.
class InputFile {
public:
    explicit InputFile(const QString &name);

    QByteArrayView bytes() const { return bytes_; }

private:
    QFile file_;
    QByteArray copy_;
    QByteArrayView bytes_;
};

} // namespace meridoc::cards
