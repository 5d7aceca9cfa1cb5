// The entry form of the search/edit window: EDIT, DONE, CANCEL, deleting by right click, and
// Enter moving through the boxes.
#include "search_edit_window.h"

#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/extratext.h"
#include "data/text.h"
#include "data/transliteration.h"
#include "messages.h"
#include "results_grid.h"
#include "seed_refusal.h"
#include "ui_search_edit_window.h"

#include <QKeyEvent>

using namespace meridoc;

namespace {

constexpr int NormalWidth = 578;
constexpr int FormWidth = 380;

bool isBlank(const QString &s) {
    return text::trimmed(s).isEmpty();
}

// The five texts as a record's fields: letters the record cannot hold written in Latin letters.
std::array<QByteArray, FieldCount> fieldsOf(const std::array<QString, ResultsGrid::Columns> &texts,
                                            bool trim) {
    std::array<QByteArray, FieldCount> fields;
    for (int i = 0; i < FieldCount; ++i) {
        const QByteArray bytes = toCp1252Latin(texts[i]);
        fields[i] = trim ? text::trimmed(bytes) : bytes;
    }
    return fields;
}

// A record made of the five texts, each cut to its field's width.
EntryRecord recordOf(const std::array<QString, ResultsGrid::Columns> &texts, bool trim) {
    return EntryRecord::fromFields(fieldsOf(texts, trim));
}

} // namespace

std::array<QString, 5> TForm2::entryFormTexts() const {
    return {ui->Edit1->text(), ui->Edit2->text(), ui->Edit3->text(), ui->Edit4->text(),
            ui->Edit5->text()};
}

void TForm2::Button3Click() {
    if (refuseSeedCardFile(this))
        return;
    const int row = grid_->currentRow();
    ui->Edit1->setText(grid_->cell(0, row));
    ui->Edit2->setText(grid_->cell(1, row));
    if (isBlank(ui->Edit1->text()) || isBlank(ui->Edit2->text()))
        return; // e.g. the no-match row

    resize(FormWidth, height());
    ui->Button5->show();
    ui->Edit1->hide();
    ui->Edit2->hide();
    ui->Label2->hide();
    ui->GroupBox1->show();
    ui->GroupBox1->setTitle(QStringLiteral("Edit record"));
    addMode_ = false;
    HideResultControls();

    ui->Label3->setText(QStringLiteral("Edit details for ") + ui->Edit1->text() + " " +
                        ui->Edit2->text() + ".");
    ui->Label3->adjustSize();
    // The boxes are filled once PHONE1 has the focus, so that a screen reader names it first.
    ui->Edit3->setFocus();
    ui->Edit3->setText(grid_->cell(2, row));
    ui->Edit4->setText(grid_->cell(3, row));
    ui->Edit5->setText(grid_->cell(4, row));
}

void TForm2::Button4Click() {
    if (isBlank(ui->Edit1->text()) || isBlank(ui->Edit2->text())) {
        messages::show(this, messages::Kind::Information,
                       QStringLiteral("Name and surname fields are mandatory."), messages::Ok);
        return;
    }
    const int row = grid_->currentRow();
    LeaveEntryForm();

    if (!inAddMode()) {
        DroppedEntry = recordOf(grid_->rowCells(row), false);
        ReplacementEntry = recordOf(entryFormTexts(), true);
        // Only the phone numbers and the comments can change in edit mode. Each is compared on
        // its own, so moving characters from one field to the next still counts as a change.
        if (DroppedEntry.PHONE1() == ReplacementEntry.PHONE1() &&
            DroppedEntry.PHONE2() == ReplacementEntry.PHONE2() &&
            DroppedEntry.COMMENTS() == ReplacementEntry.COMMENTS())
            return;
        // The rewrite with the new entry, then the sort; nothing when another program changed or
        // removed the entry since the search, which would otherwise leave both versions.
        if (!ReplaceListedEntry()) {
            messages::show(this, messages::Kind::Warning,
                           QStringLiteral("The entry for ") + grid_->cell(0, row) + " " +
                               grid_->cell(1, row) +
                               QStringLiteral(" was changed elsewhere since the search. Nothing "
                                              "was written; the search runs again."),
                           messages::Ok);
        }
        RunSearch(row);
        return;
    }

    AddEntry(fieldsOf(entryFormTexts(), false)); // appended, then sorted into place
    RunSearch(1);
    hide();
    if (mainWindow_)
        mainWindow_->show();
}

void TForm2::Button9Click() {
    LeaveEntryForm();
    if (inAddMode()) {
        hide();
        if (mainWindow_)
            mainWindow_->show();
    } else {
        CardFileChanged(); // a change made while the form was open shows now
    }
}

void TForm2::LeaveEntryForm() {
    resize(NormalWidth, height());
    ShowResultControls();
    ui->Edit1->show();
    ui->Edit2->show();
    ui->Label2->show();
    ui->Label3->setText(QStringLiteral("SURNAME"));
    ui->Label3->adjustSize();
    ui->GroupBox1->hide();
    keepFocusShown();
}

void TForm2::StringGrid1MouseDown(Qt::MouseButton button, const QPoint &viewportPos) {
    if (button == Qt::RightButton)
        deleteEntryOfRow(grid_->rowAt(viewportPos));
}

void TForm2::deleteEntryOfRow(int row) {
    if (row <= 0 || grid_->rowCount() <= 2)
        return;
    grid_->setCurrentRow(row);
    const auto cells = grid_->rowCells(row);
    const auto answer = messages::show(this, messages::Kind::Warning,
                                       QStringLiteral("You are about to delete the entry for ") +
                                           cells[0] + " " + cells[1],
                                       messages::Ok | messages::Cancel);
    if (answer != messages::Ok)
        return;
    DroppedEntry = recordOf(cells, false);
    RewriteCardFile(false);
    watchCardFile(); // the results already show this change
    RemoveOrphanExtraText(ExtraTextKey(DroppedEntry.NAME(), DroppedEntry.SURNAME()));
    RemoveResultRow(row);
}

// The rewrite removed every record of the entry, so every row listing it goes too, not only the
// clicked one: no row is left naming an entry that no longer exists.
void TForm2::RemoveResultRow(int row) {
    grid_->removeEntryRows(row, EntryKey(DroppedEntry));
}

// Enter moves to the next box of the cycle Edit1 ... Edit5; a box hidden in edit mode is skipped.
bool TForm2::entryFormKeyDown(QObject *watched, QKeyEvent *event) {
    const QList<QLineEdit *> boxes = {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4, ui->Edit5};
    const qsizetype index = boxes.indexOf(qobject_cast<QLineEdit *>(watched));
    if (index < 0 || (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter))
        return false;
    for (qsizetype step = 1; step <= boxes.size(); ++step) {
        QLineEdit *next = boxes[(index + step) % boxes.size()];
        if (!next->isHidden()) {
            next->setFocus(Qt::TabFocusReason);
            break;
        }
    }
    return false; // the key itself is not consumed
}
