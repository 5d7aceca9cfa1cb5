#include "window_style.h"

#include "desktop/desktop_identity.h"

#include <QFont>
#include <QLabel>
#include <QWidget>

namespace meridoc {

void applyWindowStyle(QWidget *window) {
    // The windows' controls are laid out for a narrow sans-serif face; Liberation Sans has the
    // right widths, the system sans is the fallback.
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                    QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(10);
    font.setStyleHint(QFont::SansSerif);
    window->setFont(font);
    window->setWindowIcon(programIcon());
    // Buttons keep their captions inside the classic, tight button sizes.
    window->setStyleSheet(QStringLiteral("QPushButton { padding: 0px 1px; }"));
    // Labels size themselves to their captions.
    for (QLabel *label : window->findChildren<QLabel *>())
        label->adjustSize();
}

} // namespace meridoc
