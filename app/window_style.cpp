#include "window_style.h"

#include <QFont>
#include <QWidget>

namespace meridoc {

void applyWindowStyle(QWidget *window) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    window->setFont(font);
}

} // namespace meridoc
