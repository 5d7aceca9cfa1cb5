#include "window_fit.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace meridoc {

namespace {

const char *const WindowRoleProperty = "meridocAccessibleWindow";

// The frame a window manager puts around a window, for a window not yet framed while no other
// window of the program shows one (openbox draws 2 x 25 px, other window managers' title bars
// reach about 40 px).
constexpr QSize GuessedDecoration(8, 48);

// The frame around `window`: its own once it is known (or the window is on screen without one),
// before that the one another window of the program shows, or a guess.
QSize decorationOf(const QWidget *window) {
    const QSize own = window->frameGeometry().size() - window->size();
    const QWindow *handle = window->windowHandle();
    if (!own.isNull() || (handle && handle->isExposed()))
        return own;
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        const QSize seen = other->frameGeometry().size() - other->size();
        if (other != window && other->isVisible() && !seen.isNull())
            return seen;
    }
    return GuessedDecoration;
}

// Sizes `window` to `wanted` where the screen has room for it (never below its minimum size) and
// moves it inside the screen's free area; a window that fits keeps its place.
void fit(QWidget *window, QSize wanted) {
    const QScreen *screen = window->screen();
    if (!screen || !window->isVisible() || (window->windowState() & Qt::WindowMaximized))
        return;
    const QRect room = screen->availableGeometry();
    const QSize decoration = decorationOf(window);
    const QSize size = wanted.boundedTo(room.size() - decoration).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);
    const QRect frame(window->pos(), window->size() + decoration);
    const int x =
        std::clamp(frame.x(), room.left(), std::max(room.left(), room.right() + 1 - frame.width()));
    const int y =
        std::clamp(frame.y(), room.top(), std::max(room.top(), room.bottom() + 1 - frame.height()));
    if (QPoint(x, y) != frame.topLeft())
        window->move(x, y); // a top-level window's position is that of its frame
}

// Fits a window twice each time it is shown. First on the Show event, which comes before the
// window system maps the window, so that the window manager places a window that already fits
// (requests made while it places a window may be dropped, and how long that takes depends on the
// machine's load). Then on the first exposure, when the window manager has placed and framed it:
// against its real frame, and back up to the size it was shown at where a guessed frame made it
// smaller. Later moves and sizes, the user's or a maximize, are left alone.
class OnScreen : public QObject {
public:
    explicit OnScreen(QWidget *window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        const auto type = event->type();
        if (watched == window_ && type == QEvent::Show) {
            if (QWindow *handle = window_->windowHandle())
                handle->installEventFilter(this);
            wanted_ = window_->size();
            fit(window_, wanted_);
            shown_ = window_->size();
            placing_ = true;
        } else if (watched == window_ && type == QEvent::WindowStateChange) {
            placing_ = false; // maximized or minimized: the window system's own size
        } else if (placing_ && type == QEvent::Expose && watched == window_->windowHandle() &&
                   window_->windowHandle()->isExposed()) {
            placing_ = false;
            QTimer::singleShot(0, this, [this] {
                // A size the program set meanwhile is kept.
                fit(window_, window_->size() == shown_ ? wanted_ : window_->size());
            });
        }
        return false;
    }

private:
    QWidget *window_;
    QSize wanted_; // the size the window was shown at
    QSize shown_;  // the size it was mapped at
    bool placing_ = false;
};

QAccessibleInterface *windowRoleFactory(const QString &, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || !widget->isWindow() || !widget->property(WindowRoleProperty).toBool())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

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
