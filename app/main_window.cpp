#include "main_window.h"

#include "about_window.h"
#include "components/appexec.h"
#include "data/appstate.h"
#include "data/configuration.h"
#include "data/text.h"
#include "guard.h"
#include "messages.h"
#include "name_entry.h"
#include "search_edit_window.h"
#include "seed_refusal.h"
#include "ui_main_window.h"
#include "window_style.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>

using namespace meridoc;

TForm1::TForm1(const QString &programDir, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()), requestedProgramDir_(programDir) {
    ui->setupUi(this);
    move(201, 95); // the designed place; the layout file only sizes a top-level window
    applyWindowStyle(this);

    // The letter pad: 13 x 2 cells of 20 x 18 pixels, flat, without headers or bars (its colours:
    // styleLetterPad).
    QTableWidget *pad = ui->StringGrid1;
    pad->setColumnCount(13);
    pad->setRowCount(2);
    pad->horizontalHeader()->hide();
    pad->verticalHeader()->hide();
    pad->horizontalHeader()->setMinimumSectionSize(1);
    pad->verticalHeader()->setMinimumSectionSize(1);
    pad->horizontalHeader()->setDefaultSectionSize(20);
    pad->verticalHeader()->setDefaultSectionSize(18);
    pad->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pad->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pad->setFrameShape(QFrame::NoFrame);
    pad->setShowGrid(true);
    pad->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pad->setSelectionMode(QAbstractItemView::SingleSelection);
    pad->setTabKeyNavigation(false); // Tab leaves the pad instead of walking its cells

    ui->FileListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    setUpNameEntry(ui->MaskEdit2);
    ui->MaskEdit2->setText(QString(12, ' '));
    enableMenuBarKeyboard(menuBar());

    // The help viewer's launcher; every other setting keeps its value from construction.
    AppExec1 = new TAppExec(this);
    AppExec1->setExeName(QStringLiteral("txtview.exe"));
    AppExec1->setExeParams({QStringLiteral("Meridoc Help")});
    AppExec1->setLangType(ltEnglish);
    AppExec1->setWait(true);
    AppExec1->setWindowState(wsNormal);

    // The layout is complete: the clock starts.
    ui->Timelabel1->Loaded();

    FormCreate();
    connectHandlers();
    setUpKeyboard();
}

TForm1::~TForm1() = default;

void TForm1::setForms(TForm2 *form2, TForm3 *form3) {
    form2_ = form2;
    form3_ = form3;
}

void TForm1::setCardFileCaption(const QString &baseName) {
    setWindowTitle(QStringLiteral("MERIDOC   ") + baseName);
}

void TForm1::FormCreate() {
    guarded(this, [&] {
        QString dir = requestedProgramDir_;
        if (dir.isEmpty())
            dir = QCoreApplication::applicationDirPath();
        if (!dir.endsWith('/'))
            dir += '/';
        LoadConfiguration(dir);
        setCardFileCaption(AppState.CurrentFileName);
    });
}

void TForm1::connectHandlers() {
    // Every handler runs through the guard, so an error ends it with the standard report.
    const auto wire = [this](auto *sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { guarded(this, [&] { (this->*handler)(); }); });
    };
    wire(ui->FILE1, &QMenu::aboutToShow, &TForm1::FILE1Click);
    wire(ui->NEW1, &QAction::triggered, &TForm1::NEW1Click);
    wire(ui->OPEN1, &QAction::triggered, &TForm1::OPEN1Click);
    wire(ui->SAVEAS1, &QAction::triggered, &TForm1::SAVEAS1Click);
    wire(ui->RENAME1, &QAction::triggered, &TForm1::RENAME1Click);
    wire(ui->DELETE1, &QAction::triggered, &TForm1::DELETE1Click);
    wire(ui->EXIT1, &QAction::triggered, &TForm1::EXIT1Click);
    wire(ui->SEARCH, &QAction::triggered, &TForm1::SEARCHClick);
    wire(ui->Newrecord1, &QAction::triggered, &TForm1::Newrecord1Click);
    wire(ui->Help2, &QAction::triggered, &TForm1::Help2Click);
    wire(ui->ABOUT1, &QAction::triggered, &TForm1::ABOUT1Click);
    wire(ui->StringGrid1, &QTableWidget::cellClicked, &TForm1::StringGrid1Click);
    // The second click of a double click arrives as the double click alone: it appends too.
    wire(ui->StringGrid1, &QTableWidget::cellDoubleClicked, &TForm1::StringGrid1Click);
    wire(ui->Button1, &QPushButton::clicked, &TForm1::Button1Click);
    wire(ui->Button2, &QPushButton::clicked, &TForm1::Button2Click);
    wire(ui->Button4, &QPushButton::clicked, &TForm1::Button4Click);
    wire(ui->Button5, &QPushButton::clicked, &TForm1::Button5Click);
    wire(ui->Button6, &QPushButton::clicked, &TForm1::Button6Click);
    wire(ui->Button7, &QPushButton::clicked, &TForm1::Button7Click);
    wire(ui->Button8, &QPushButton::clicked, &TForm1::Button8Click);
    wire(ui->Button9, &QPushButton::clicked, &TForm1::Button9Click);
    wire(ui->Button11, &QPushButton::clicked, &TForm1::Button11Click);
}

QList<QWidget *> TForm1::letterPad() const {
    return {ui->Label3, ui->StringGrid1,  ui->Button2,      ui->Button8, ui->Label1,
            ui->Edit1,  ui->RadioButton1, ui->RadioButton2, ui->Button6, ui->Button7};
}

QList<QWidget *> TForm1::fileControls() const {
    return {ui->Label4,  ui->Label2,  ui->MaskEdit2, ui->FileListBox1, ui->Button1,
            ui->Button4, ui->Button9, ui->Button11,  ui->Button5};
}

void TForm1::hideLetterPad() {
    for (QWidget *w : letterPad())
        w->hide();
    focusWindowIfEmpty();
}

void TForm1::hideFileControls() {
    for (QWidget *w : fileControls())
        w->hide();
    focusWindowIfEmpty();
}

// Shows `widgets` and hides every other control of both groups.
void TForm1::showOnly(const QList<QWidget *> &widgets) {
    for (QWidget *w : letterPad() + fileControls())
        w->setVisible(widgets.contains(w));
}

void TForm1::hideSearchWindow() {
    if (form2_)
        form2_->hide();
}

void TForm1::FILE1Click() {
    hideLetterPad();
}

void TForm1::NEW1Click() {
    ui->Label4->setText(QStringLiteral("File/New"));
    showOnly({ui->Label4, ui->Label2, ui->MaskEdit2, ui->Button4, ui->Button5});
    hideSearchWindow();
    focusNameEntry(ui->MaskEdit2); // typing replaces the name shown
}

void TForm1::OPEN1Click() {
    ui->Label4->setText(QStringLiteral("File/Open"));
    showOnly({ui->Label4, ui->FileListBox1, ui->Button9, ui->Button5});
    fillFileList();
    hideSearchWindow();
    ui->FileListBox1->setFocus();
}

void TForm1::SAVEAS1Click() {
    ui->Label4->setText(QStringLiteral("File/Save As"));
    showOnly({ui->Label4, ui->Label2, ui->MaskEdit2, ui->Button11, ui->Button5});
    hideSearchWindow();
    focusNameEntry(ui->MaskEdit2); // typing replaces the name shown
}

void TForm1::RENAME1Click() {
    ui->Label4->setText(QStringLiteral("File/Rename"));
    showOnly({ui->Label4, ui->Label2, ui->MaskEdit2, ui->Button1, ui->Button5});
    button1Role_ = Button1Role::Rename;
    hideSearchWindow();
    focusNameEntry(ui->MaskEdit2); // typing replaces the name shown
}

void TForm1::DELETE1Click() {
    ui->Label4->setText(QStringLiteral("File/Delete"));
    showOnly({ui->Label4, ui->FileListBox1, ui->Button1, ui->Button5});
    button1Role_ = Button1Role::Delete;
    fillFileList();
    hideSearchWindow();
    ui->FileListBox1->setFocus();
}

void TForm1::EXIT1Click() {
    QCoreApplication::quit();
}

void TForm1::closeEvent(QCloseEvent *event) {
    event->accept();
    QCoreApplication::quit();
}

void TForm1::Button5Click() {
    hideFileControls();
}

// Letter pad

void TForm1::SEARCHClick() {
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 13; ++j) {
            auto *cell = new QTableWidgetItem(QString(QChar(65 + 13 * i + j)));
            cell->setTextAlignment(Qt::AlignCenter);
            ui->StringGrid1->setItem(i, j, cell);
        }
    }
    showOnly({});
    hideSearchWindow();
    for (QWidget *w : letterPad())
        w->show();
    // Emptied once it has the focus, so that a screen reader names the box before its change.
    ui->Edit1->setFocus(Qt::OtherFocusReason);
    ui->Edit1->clear();
}

void TForm1::StringGrid1Click() {
    const QString current = ui->Edit1->text();
    if (current.size() >= 16)
        return;
    const QTableWidgetItem *cell = ui->StringGrid1->currentItem();
    ui->Edit1->setText(current + (cell ? cell->text() : QString()));
}

void TForm1::Button2Click() {
    // Blanks are removed from both ends first, then the last character goes.
    QString s = text::trimmed(ui->Edit1->text());
    s.chop(1);
    ui->Edit1->setText(s);
}

void TForm1::Button8Click() {
    ui->Edit1->clear();
}

void TForm1::Button6Click() {
    hideLetterPad();
    showSearchWindow(false);
}

void TForm1::Button7Click() {
    hideLetterPad();
    ui->Edit1->clear();
}

// NEW RECORD: the search/edit window in add mode, in place of the main window.
void TForm1::Newrecord1Click() {
    if (refuseSeedCardFile(this))
        return;
    showSearchWindow(true);
}

// The search window takes the letter pad's text and choice each time it is shown: for a search,
// or for adding an entry in place of this window.
void TForm1::showSearchWindow(bool forAdding) {
    if (!form2_)
        return;
    const TForm2::Search search{ui->Edit1->text(), ui->RadioButton1->isChecked()};
    if (!forAdding) {
        form2_->showForSearch(search);
        return;
    }
    form2_->prepareAddMode(search);
    hide();
    form2_->showWindow();
}
