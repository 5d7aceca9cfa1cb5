// The extra text of the search/edit window: the read-only viewer opened by a double click and the
// editor opened from the entry form.
#include "search_edit_window.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/extratext_io.h"
#include "data/text.h"
#include "messages.h"
#include "results_grid.h"
#include "ui_search_edit_window.h"

using namespace meridoc;

namespace {
constexpr int TextWidth = 380;
constexpr int ClosedTextWidth = 570;
} // namespace

// "NAME SURNAME" of a result row, for the viewer's accessible name.
QString TForm2::personOf(int row) const {
    return text::trimmed(text::trimmed(grid_->cell(0, row)) + QLatin1Char(' ') +
                         text::trimmed(grid_->cell(1, row)));
}

void TForm2::StringGrid1DblClick() {
    const int row = grid_->currentRow();
    const QString name = ViewerExtraTextName(grid_->cell(0, row), grid_->cell(1, row));
    if (name.isEmpty())
        return; // e.g. the no-match row
    if (FindExtraText(name).isEmpty()) {
        messages::show(this, messages::Kind::Information,
                       QStringLiteral("No ekstra info found for ") + name +
                           QStringLiteral(" . Create extra info in") +
                           QStringLiteral(" \"EDIT\" / \"ADD EXTRA TEXT\"  "),
                       messages::Ok);
        return;
    }
    ui->RichEdit1->clear();
    LoadExtraTextFile(FindExtraText(name), *ui->RichEdit1->document());
    ui->RichEdit1->show();
    // The results make way only once the text has loaded: a file that cannot be loaded leaves
    // them on screen with BACK, not an empty window.
    HideResultControls();
    resize(TextWidth, height());
    ui->RichEdit1->setReadOnly(true);
    ui->Button2->show();
    ui->RichEdit1->setAccessibleName(QStringLiteral("Extra text of ") + personOf(row));
    ui->RichEdit1->setFocus(Qt::OtherFocusReason);
}

void TForm2::Button2Click() {
    ui->RichEdit1->hide();
    ui->Button2->hide();
    resize(ClosedTextWidth, height());
    ShowResultControls();
    focusFirstShown();
}

void TForm2::Button5Click() {
    ui->RichEdit2->clear();
    ui->RichEdit2->setPlainText(QStringLiteral("Put extra text here"));
    const QString name = EditorExtraTextName(ui->Edit1->text(), ui->Edit2->text());
    // The file is loaded before the editor opens: one that cannot be loaded is reported and the
    // entry form stays, so SAVE & EXIT can never write the placeholder over the unread text.
    if (ExtraTextExists(name)) {
        LoadExtraText(ExtraTextPath(name), *ui->RichEdit2->document());
    } else if (name == text::trimmed(name)) {
        // The note the viewer shows under an older spelling (blanks around the name, Windows-1252
        // bytes) opens for editing; saving writes it under the editor's own name.
        if (const QByteArray found = FindExtraText(name); !found.isEmpty())
            LoadExtraTextFile(found, *ui->RichEdit2->document());
    }
    ui->RichEdit2->document()->setModified(false); // only typing counts as a change
    ui->RichEdit2->setAccessibleName(
        QStringLiteral("Extra text of ") +
        text::trimmed(ui->Edit1->text() + QLatin1Char(' ') + ui->Edit2->text()));
    ui->GroupBox2->show();
    ui->GroupBox1->hide();
    // The editor takes the focus from the hidden form's button.
    ui->RichEdit2->setFocus(Qt::OtherFocusReason);
}

// Asks the editor's question; true on Yes.
bool TForm2::askToCloseEditor(const QString &question) {
    return messages::show(this, messages::Kind::Information, question,
                          messages::Yes | messages::No) == messages::Yes;
}

// The editor makes way for the entry form again.
void TForm2::closeEditor() {
    ui->GroupBox2->hide();
    ui->GroupBox1->show();
    focusFirstShown();
}

void TForm2::Button6Click() {
    if (!askToCloseEditor(
            QStringLiteral("This action will save text changes and exit text-edit, OK?")))
        return;
    const QString name = EditorExtraTextName(ui->Edit1->text(), ui->Edit2->text());
    if (!IsExtraTextName(name)) {
        // A name that would reach outside the program folder or onto one of its own files.
        throw Exception(QStringLiteral("Cannot create file %1").arg(AppState.ProgramDir + name));
    }
    // Saved before the editor closes: a save that fails leaves the editor open with its text
    // after the error report, so nothing typed is lost.
    SaveExtraText(ExtraTextPath(name), *ui->RichEdit2->document());
    closeEditor();
}

bool TForm2::Button7Click() {
    if (!askToCloseEditor(QStringLiteral("Unsaved changes will be lost, OK?")))
        return false;
    closeEditor();
    return true;
}
