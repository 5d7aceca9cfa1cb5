#include "window_style.h"

#include "accessible_line_edit.h"
#include "desktop/desktop_identity.h"
#include "desktop/window_fit.h"

#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QWidget>

namespace meridoc {

namespace {

// Keeps every label as large as its caption. A caption changed while the label is hidden is
// caught when it is shown; one changed while it is on screen makes the label ask its parent for
// a new layout, which is caught there.
class LabelAutoSize : public QObject {
public:
    using QObject::QObject;

    static void fit(QLabel *label) {
        if (label->size() != label->sizeHint())
            label->adjustSize();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::ShowToParent:
        case QEvent::FontChange:
            if (auto *label = qobject_cast<QLabel *>(watched))
                fit(label);
            break;
        case QEvent::LayoutRequest:
            for (QLabel *label : watched->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
                fit(label);
            break;
        default:
            break;
        }
        return false;
    }
};

// Return and keypad Enter press the push button that has the keyboard focus, whether or not it
// is a dialog's default button.
class EnterPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto *button = qobject_cast<QPushButton *>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled())
            return false;
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

// The menu bar's own keyboard handling (Alt, arrows, Enter) switched on, whatever the platform
// style would do.
class MenuBarKeyboardStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    // The highlighted item is drawn as such also while no menu is open (keyboard mode), where
    // some styles draw only an item whose menu is open.
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
        if (element == CE_MenuBarItem && (option->state & State_Selected)) {
            if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
                QStyleOptionMenuItem highlighted = *item;
                highlighted.state |= State_Sunken;
                QProxyStyle::drawControl(element, &highlighted, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// F10 puts the menu bar into its keyboard mode, by handing it the lone Alt press and release it
// reacts to itself.
class F10OpensMenuBar : public QObject {
public:
    explicit F10OpensMenuBar(QMenuBar *bar) : QObject(bar), bar_(bar) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const auto *widget = qobject_cast<QWidget *>(watched);
        if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::NoModifier || !widget ||
            widget->window() != bar_->window() || !bar_->isVisible() ||
            QApplication::activePopupWidget())
            return false;
        QWidget *target = QApplication::focusWidget();
        if (!target || target->window() != bar_->window() || !target->isVisible())
            target = bar_->window();
        QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Alt, Qt::AltModifier);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &override);
        QCoreApplication::sendEvent(target, &press);
        QCoreApplication::sendEvent(target, &release);
        return true;
    }

private:
    QMenuBar *bar_;
};

void installApplicationFilters() {
    static EnterPressesButton *const enter = [] {
        auto *filter = new EnterPressesButton(qApp);
        qApp->installEventFilter(filter);
        return filter;
    }();
    Q_UNUSED(enter);
}

} // namespace

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
    installApplicationFilters();
    installLineEditAccessibility();
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(10);
    font.setStyleHint(QFont::SansSerif);
    window->setFont(font);
    window->setWindowIcon(programIcon());
    keepOnScreen(window);
    // Buttons keep their captions inside the classic, tight button sizes.
    window->setStyleSheet(QStringLiteral("QPushButton { padding: 0px 1px; }"));
    // Labels size themselves to their captions, now and whenever a caption changes.
    auto *autoSize = new LabelAutoSize(window);
    for (QLabel *label : window->findChildren<QLabel *>()) {
        LabelAutoSize::fit(label);
        label->installEventFilter(autoSize);
        if (QWidget *parent = label->parentWidget())
            parent->installEventFilter(autoSize); // installing twice keeps one entry
    }
}

void enableMenuBarKeyboard(QMenuBar *bar) {
    auto *style = new MenuBarKeyboardStyle(QStyleFactory::create(QApplication::style()->name()));
    style->setParent(bar);
    bar->setStyle(style);
    qApp->installEventFilter(new F10OpensMenuBar(bar));
}

} // namespace meridoc
