#include "window_fit.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace meridoc {

namespace {

const char *const WindowRoleProperty = "meridocAccessibleWindow";

class OnScreen : public QObject {
public:
    explicit OnScreen(QWidget *window) : QObject(window), window_(window) {}

protected:
    // A window is fitted when it is shown and while the window system places it (moves and
    // sizes shortly after the show, when the frame's size becomes known); later moves and sizes,
    // the user's or a maximize, are left alone.
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != window_)
            return false;
        const auto type = event->type();
        if (type == QEvent::WindowStateChange)
            placing_ = false; // maximized or minimized: the window system's own size
        if (type == QEvent::Show) {
            placing_ = true;
            QTimer::singleShot(PlacingMs, this, [this] { placing_ = false; });
        }
        if (placing_ && (type == QEvent::Show || type == QEvent::Resize || type == QEvent::Move))
            QTimer::singleShot(0, window_, [w = window_] { fitOnScreen(w); });
        return false;
    }

private:
    // A loaded machine's window manager may place a new window seconds after it is shown (over
    // 2 s seen with openbox on Xvfb while both cores were busy); a maximize ends the period early.
    static constexpr int PlacingMs = 10000;
    QWidget *window_;
    bool placing_ = false;
};

QAccessibleInterface *windowRoleFactory(const QString &, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || !widget->isWindow() || !widget->property(WindowRoleProperty).toBool())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void fitOnScreen(QWidget *window) {
    const QScreen *screen = window->screen();
    if (!screen || !window->isVisible() || (window->windowState() & Qt::WindowMaximized))
        return;
    const QRect room = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    if (room.contains(frame))
        return;
    const QSize decoration = frame.size() - window->size();
    if (frame.width() > room.width() || frame.height() > room.height()) {
        window->resize(
            window->size().boundedTo(room.size() - decoration).expandedTo(window->minimumSize()));
        frame = window->frameGeometry();
    }
    const int x =
        std::clamp(frame.x(), room.left(), std::max(room.left(), room.right() + 1 - frame.width()));
    const int y =
        std::clamp(frame.y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.height()));
    if (QPoint(x, y) != frame.topLeft())
        window->move(x, y); // a top-level window's position is that of its frame
}

void keepOnScreen(QWidget *window) {
    window->installEventFilter(new OnScreen(window));
}

void announceAsWindow(QWidget *window) {
    static const bool installed = [] {
        QAccessible::installFactory(windowRoleFactory);
        return true;
    }();
    Q_UNUSED(installed);
    window->setProperty(WindowRoleProperty, true);
}

} // namespace meridoc
