#include "search_edit_window.h"

#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/search.h"
#include "guard.h"
#include "messages.h"
#include "results_grid.h"
#include "results_printer.h"
#include "ui_search_edit_window.h"
#include "window_style.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

using namespace meridoc;

TForm2::TForm2(QWidget *mainWindow, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TForm2>()), mainWindow_(mainWindow) {
    ui->setupUi(this);
    move(83, 100); // the designed place; the layout file only sizes a top-level window
    applyWindowStyle(this);
    grid_ = std::make_unique<ResultsGrid>(ui->StringGrid1);
    connectHandlers();
    setUpKeyboard();
}

TForm2::~TForm2() = default;

void TForm2::connectHandlers() {
    const auto wire = [this](QPushButton *button, auto handler) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { guarded(this, [&] { (this->*handler)(); }); });
    };
    wire(ui->Button1, &TForm2::Button1Click);
    wire(ui->Button2, &TForm2::Button2Click);
    wire(ui->Button3, &TForm2::Button3Click);
    wire(ui->Button4, &TForm2::Button4Click);
    wire(ui->Button5, &TForm2::Button5Click);
    wire(ui->Button6, &TForm2::Button6Click);
    wire(ui->Button7, &TForm2::Button7Click);
    wire(ui->Button8, &TForm2::Button8Click);
    wire(ui->Button9, &TForm2::Button9Click);
    ui->StringGrid1->viewport()->installEventFilter(this);
    ui->StringGrid1->horizontalHeader()->viewport()->installEventFilter(this);
    ui->RichEdit1->installEventFilter(this);
    for (QLineEdit *edit : {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4, ui->Edit5})
        edit->installEventFilter(this);
}

bool TForm2::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ui->StringGrid1->viewport() ||
        watched == ui->StringGrid1->horizontalHeader()->viewport())
        return gridMouseEvent(watched == ui->StringGrid1->viewport(), event);
    if (watched == ui->StringGrid1 && event->type() == QEvent::KeyPress)
        return gridKeyDown(static_cast<QKeyEvent *>(event));
    if (watched == ui->RichEdit1 && event->type() == QEvent::KeyPress &&
        !ui->RichEdit1->tabChangesFocus()) {
        // The viewer accepts Tab: the key stays in it (read-only, so it types nothing) instead of
        // handing the focus on, which Qt does for any read-only text box. Ctrl+Tab leaves it, as
        // it leaves any box that accepts tabs.
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
            return false;
        if (key->modifiers() & Qt::ControlModifier)
            focusNextPrevChild(key->key() == Qt::Key_Tab &&
                               !(key->modifiers() & Qt::ShiftModifier));
        return true;
    }
    if (event->type() == QEvent::KeyPress)
        return entryFormKeyDown(watched, static_cast<QKeyEvent *>(event));
    return QWidget::eventFilter(watched, event);
}

// Mouse events over the grid's cells (`onCells`) or its header row; true consumes the event.
bool TForm2::gridMouseEvent(bool onCells, QEvent *event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const Qt::MouseButton button = mouse->button();
        grid_->notePress(*mouse);
        if (!onCells)
            return false; // the header row holds no entry to delete
        const QPoint pos = mouse->position().toPoint();
        guarded(this, [&] { StringGrid1MouseDown(button, pos); });
        // The right button only ever deletes; it never moves the selection itself.
        return button == Qt::RightButton;
    }
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        // Only a left double click that began on the grid opens the viewer; any other (a right
        // double click, one whose first click hit a button that then vanished) does nothing.
        if (mouse->button() != Qt::LeftButton || !grid_->doubleClickBeganHere(*mouse))
            return true;
        // The selected row counts, wherever in the grid the double click falls.
        QMetaObject::invokeMethod(
            this, [this] { guarded(this, [&] { StringGrid1DblClick(); }); }, Qt::QueuedConnection);
        return false;
    }
    case QEvent::Hide:
        grid_->forgetPresses(); // a click before the grid went away starts no double click
        return false;
    default:
        return false;
    }
}

// Showing and hiding

void TForm2::showWindow() {
    show();
    raise();
    activateWindow();
}

void TForm2::showForSearch(const Search &search) {
    search_ = search;
    showWindow();
    ui->StringGrid1->show();
    ui->Button1->show();
    ui->Button8->show();
    ui->Button3->show();
    focusFirstShown();
}

void TForm2::prepareAddMode(const Search &search) {
    search_ = search;
    addMode_ = true;
    ui->GroupBox1->show();
    ui->GroupBox1->setTitle(QStringLiteral("Add new record"));
    HideResultControls();
    ui->Button5->hide(); // extra text only for an entry that already exists
    resize(380, height());
    for (QLineEdit *edit : {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4, ui->Edit5})
        edit->clear();
    // No focus is set: showing the window gives it to the first control on screen.
}

QList<QWidget *> TForm2::resultControls() const {
    return {ui->Label1, ui->StringGrid1, ui->Button1, ui->Button3, ui->Button8};
}

void TForm2::ShowResultControls() {
    for (QWidget *w : resultControls())
        w->show();
}

void TForm2::HideResultControls() {
    for (QWidget *w : resultControls())
        w->hide();
}

// The search

void TForm2::RunSearch(int rowToSelect) {
    const SearchCriteria criteria = MakeSearchCriteria(search_.text, search_.byName);
    watchCardFile();
    grid_->reset();
    grid_->beginFill();
    try {
        CardFileReader reader(CardFilePath());
        if (criteria.SearchString.isEmpty()) {
            // Every entry is listed: the records go into the grid a buffer at a time.
            grid_->reserve(reader.recordCount());
            for (auto block = reader.nextBlock(); !block.empty(); block = reader.nextBlock())
                grid_->addResults(block);
        } else {
            while (const EntryRecord *record = reader.next()) {
                if (Matches(*record, criteria))
                    grid_->addResult(*record);
            }
        }
    } catch (...) {
        grid_->endFill(); // whatever was found before the error stays listed
        throw;
    }
    grid_->endFill();
    grid_->setCurrentRow(rowToSelect);
}

// Window handlers

void TForm2::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    try {
        FormActivate();
    } catch (...) {
        // Report a failed search once the window is on screen, so BACK is there beside the box.
        const QString message = describeError(std::current_exception());
        QMetaObject::invokeMethod(
            this, [this, message] { messages::showErrorReport(this, message); },
            Qt::QueuedConnection);
    }
}

void TForm2::FormActivate() {
    if (mainWindow_)
        mainWindow_->hide();
    RunSearch(1);
}

void TForm2::closeEvent(QCloseEvent *event) {
    // Text typed into the extra-text editor is not thrown away without CANCEL & EXIT's own
    // question; "No" keeps the window and the text.
    bool closing = true;
    guarded(this, [&] {
        if (ui->GroupBox2->isVisible() && ui->RichEdit2->document()->isModified())
            closing = Button7Click();
        if (closing)
            FormClose();
    });
    event->setAccepted(closing);
}

void TForm2::FormClose() {
    ui->GroupBox2->hide();
    ui->Button2->hide();
    ui->RichEdit1->hide();
    // Leave the entry form as DONE and CANCEL leave it (width 578, all boxes back, results view
    // shown, form hidden), whatever state the window was closed in.
    LeaveEntryForm();
    if (mainWindow_) {
        mainWindow_->show();
        mainWindow_->raise();
        mainWindow_->activateWindow();
    }
}

void TForm2::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        FormResize();
}

void TForm2::FormResize() {
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        // Undo a maximize or minimize at once, once the window system has finished its change.
        QTimer::singleShot(0, this, [this] { setWindowState(Qt::WindowNoState); });
    }
}

void TForm2::Button8Click() {
    ui->GroupBox1->hide();
    close();
}

// Printing
void TForm2::Button1Click() {
    PrintResults(*grid_);
}
