// The main window from the keyboard and for assistive technology: what each control is called,
// where the focus goes when groups of controls come and go, and the keys that do what the mouse
// does.
#include "main_window.h"

#include "accessible_views.h"
#include "guard.h"
#include "letter_pad_look.h"
#include "ui_main_window.h"

#include <QKeyEvent>
#include <QShortcut>

using namespace meridoc;

namespace {

bool isEnter(const QKeyEvent *key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// The first of `buttons` that is on screen, or null.
QPushButton *firstShown(std::initializer_list<QPushButton *> buttons) {
    for (QPushButton *b : buttons) {
        if (!b->isHidden())
            return b;
    }
    return nullptr;
}

} // namespace

void TForm1::setUpKeyboard() {
    // Every box is read by the label beside it; the pad and the list are named.
    ui->Label3->setBuddy(ui->StringGrid1);
    ui->Label1->setBuddy(ui->Edit1);
    ui->Label2->setBuddy(ui->MaskEdit2);
    ui->Label4->setBuddy(ui->FileListBox1);
    ui->StringGrid1->setAccessibleName(QStringLiteral("Letter pad"));
    ui->StringGrid1->setAccessibleDescription(
        QStringLiteral("Enter or Space adds the letter to the search string"));
    ui->FileListBox1->setAccessibleName(QStringLiteral("Card files"));
    styleLetterPad(ui->StringGrid1);
    announceCurrentItemOnFocus(ui->StringGrid1);
    announceCurrentItemOnFocus(ui->FileListBox1);

    for (QWidget *w : std::initializer_list<QWidget *>{ui->StringGrid1, ui->Edit1, ui->MaskEdit2,
                                                       ui->FileListBox1})
        w->installEventFilter(this);

    // Escape presses the CANCEL on screen.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (QPushButton *cancel = firstShown({ui->Button7, ui->Button5}))
            cancel->click();
    });
    // With no control on screen (at start, back from the search window) the window itself takes
    // the focus when it is activated, so the keys reach it. It is no stop of Tab.
    setFocusPolicy(Qt::ClickFocus);
    setFocus(Qt::OtherFocusReason);
}

// With no control of either group left on screen, the window itself takes the focus, so that
// it never stays on a hidden control.
void TForm1::focusWindowIfEmpty() {
    for (QWidget *w : letterPad() + fileControls()) {
        if (!w->isHidden() && w->focusPolicy() != Qt::NoFocus)
            return;
    }
    setFocus(Qt::OtherFocusReason);
}

// The letter a key pressed on the pad is said with the search string it made.
void TForm1::describePadPress() {
    const QString search = ui->Edit1->text();
    describeCurrentItem(ui->StringGrid1, search.size() >= 16
                                             ? QStringLiteral("Search string full: ") + search
                                             : QStringLiteral("Search string: ") + search);
}

// The list's current file is the chosen one as soon as the keyboard is used on the list.
void TForm1::selectCurrentFile() {
    QListWidget *list = ui->FileListBox1;
    if (list->count() == 0 || !list->selectedItems().isEmpty())
        return;
    list->setCurrentRow(std::max(list->currentRow(), 0), QItemSelectionModel::ClearAndSelect);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ui->FileListBox1 && event->type() == QEvent::FocusIn) {
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            selectCurrentFile();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (watched == ui->StringGrid1) {
        // Enter or Space on a cell adds its letter, once per press, like a click.
        if (!isEnter(key) && key->key() != Qt::Key_Space)
            return false;
        if (!key->isAutoRepeat())
            guarded(this, [&] { StringGrid1Click(); });
        describePadPress();
        return true;
    }
    if (watched == ui->FileListBox1) {
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
            key->key() == Qt::Key_Space || isEnter(key))
            selectCurrentFile();
    }
    if (!isEnter(key))
        return false;
    // Enter in the search box starts the search; in the name box or the list it presses the OK
    // on screen.
    QPushButton *target = watched == ui->Edit1
                              ? firstShown({ui->Button6})
                              : firstShown({ui->Button4, ui->Button9, ui->Button11, ui->Button1});
    if (!target)
        return false;
    if (!key->isAutoRepeat())
        target->click();
    return true;
}

// Back from the search window, the focus returns to a control on screen or the window itself.
void TForm1::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    // The menu bar keeps it when its command hid this window; it is no place to come back to.
    QWidget *focus = focusWidget();
    if (!focus || focus->isHidden() || focus == menuBar())
        focusWindowIfEmpty();
}

void TForm1::changeEvent(QEvent *event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        styleLetterPad(ui->StringGrid1); // a high-contrast palette chosen while running
}
