// The search/edit window from the keyboard and for assistive technology: names of the controls,
// the keys that do what the mouse does on the results grid, and Escape.
#include "search_edit_window.h"

#include "accessible_views.h"
#include "desktop/window_fit.h"
#include "guard.h"
#include "results_grid.h"
#include "ui_search_edit_window.h"

#include <QKeyEvent>
#include <QShortcut>

using namespace meridoc;

void TForm2::setUpKeyboard() {
    announceAsWindow(this);
    // The entry form's boxes are read by their labels.
    ui->Label2->setBuddy(ui->Edit1);
    ui->Label3->setBuddy(ui->Edit2);
    ui->PHONE1->setBuddy(ui->Edit3);
    ui->PHONE2->setBuddy(ui->Edit4);
    ui->COMMENTS->setBuddy(ui->Edit5);
    ui->Label1->setBuddy(ui->StringGrid1);
    ui->StringGrid1->setAccessibleName(QStringLiteral("Search results"));
    ui->StringGrid1->setAccessibleDescription(
        QStringLiteral("Enter shows the extra text of the selected entry; Delete, the Menu key or "
                       "Shift+F10 deletes it"));
    ui->RichEdit1->setAccessibleDescription(
        QStringLiteral("Read only; Ctrl+Tab leaves the text, Escape closes it"));
    ui->GroupBox2->setAccessibleName(QStringLiteral("Extra text editor"));
    ui->StringGrid1->installEventFilter(this);
    announceCurrentItemOnFocus(ui->StringGrid1);

    // Escape presses the way back that is on screen, innermost first.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        for (QPushButton *b : {ui->Button7, ui->Button9, ui->Button2, ui->Button8}) {
            if (b->isVisible()) {
                b->click();
                return;
            }
        }
    });
}

// Keys on the results grid: Enter shows the selected entry's extra text as a double click does;
// Delete, the Menu key and Shift+F10 delete it as a right click does. True consumes the key.
bool TForm2::gridKeyDown(const QKeyEvent *key) {
    const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const bool enter = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                       modifiers == Qt::NoModifier;
    const bool remove = (key->key() == Qt::Key_Delete && modifiers == Qt::NoModifier) ||
                        key->key() == Qt::Key_Menu ||
                        (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
    if (!enter && !remove)
        return false;
    if (!key->isAutoRepeat()) {
        guarded(this, [&] {
            if (enter)
                StringGrid1DblClick();
            else
                deleteEntryOfRow(grid_->currentRow());
        });
    }
    return true;
}

// The focus goes to the first control of what is on screen: the grid, the viewer, the entry
// form's first box, or the editor.
void TForm2::focusFirstShown() {
    for (QWidget *w : nextInFocusChainFrom(ui->StringGrid1)) {
        if (w->isVisibleTo(this) && w->isEnabled()) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

// When a step hides the focused control, the focus goes on to the next control on screen in the
// tab order, as the toolkit moves it in an active window; when none is on screen yet, it stays
// until a later step shows one, and the first control on screen takes it if it was lost.
void TForm2::keepFocusShown() {
    QWidget *focused = focusWidget();
    if (focused && focused->isVisibleTo(this))
        return;
    if (focused) {
        for (QWidget *w : nextInFocusChainFrom(focused)) {
            if (w != focused && w->isVisibleTo(this) && w->isEnabled()) {
                w->setFocus(Qt::TabFocusReason);
                return;
            }
        }
        return;
    }
    focusFirstShown();
}

QList<QWidget *> TForm2::nextInFocusChainFrom(QWidget *first) const {
    QList<QWidget *> chain;
    QWidget *w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain.append(w);
        w = w->nextInFocusChain();
    } while (w && w != first);
    return chain;
}
