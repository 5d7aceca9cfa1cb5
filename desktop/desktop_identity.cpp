#include "desktop_identity.h"

#include <QGuiApplication>

namespace meridoc {

QIcon programIcon() {
    // Built on each call: a QIcon kept past the application's end would outlive its pixmaps.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/%2.png").arg(size).arg(QLatin1String(DesktopId)),
                     QSize(size, size));
    return icon;
}

void applyDesktopIdentity() {
    QGuiApplication::setWindowIcon(programIcon());
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopId));
}

} // namespace meridoc
