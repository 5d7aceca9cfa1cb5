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

#include <QPointer>
#include <QTextDocument>

#include <memory>

using namespace meridoc;

namespace {
constexpr int TextWidth = 380;
constexpr int ClosedTextWidth = 570;

// A document for `box` to load a text into before the box shows it.
std::unique_ptr<QTextDocument> documentFor(const QTextEdit *box) {
    auto note = std::make_unique<QTextDocument>();
    note->setDefaultFont(box->font());
    return note;
}

// Gives `box` `note` to show in place of its document.
void setText(QTextEdit *box, std::unique_ptr<QTextDocument> note) {
    const QPointer<QTextDocument> shown = box->document();
    note->setParent(box);
    box->setDocument(note.release());
    if (shown && shown->parent() == box)
        delete shown; // the box deletes only the document it made itself
}

// Gives `box` the focus, then `note` to show. In that order a screen reader names the box as it
// gets the focus: text changes it handles for a box that has the focus by then make it take the
// box as already announced (Orca 43 stayed silent).
void focusWithText(QTextEdit *box, std::unique_ptr<QTextDocument> note) {
    box->setFocus(Qt::OtherFocusReason);
    setText(box, std::move(note));
}
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
    auto note = documentFor(ui->RichEdit1);
    LoadExtraTextFile(FindExtraText(name), *note);
    ui->RichEdit1->show();
    // The results make way only once the text has loaded: a file that cannot be loaded leaves
    // them on screen with BACK, not an empty window.
    HideResultControls();
    resize(TextWidth, height());
    ui->RichEdit1->setReadOnly(true);
    // Read only, but with a caret the keys move, so a screen reader reads it line by line.
    ui->RichEdit1->setTextInteractionFlags(Qt::TextSelectableByKeyboard |
                                           Qt::TextSelectableByMouse);
    ui->Button2->show();
    ui->RichEdit1->setAccessibleName(QStringLiteral("Extra text of ") + personOf(row));
    focusWithText(ui->RichEdit1, std::move(note));
}

void TForm2::Button2Click() {
    ui->RichEdit1->hide();
    keepFocusShown();
    ui->Button2->hide();
    keepFocusShown();
    resize(ClosedTextWidth, height());
    ShowResultControls();
    keepFocusShown();
    CardFileChanged(); // a change made while the text was shown shows now
}

void TForm2::Button5Click() {
    auto note = documentFor(ui->RichEdit2);
    note->setPlainText(QStringLiteral("Put extra text here"));
    const QString name = EditorExtraTextName(ui->Edit1->text(), ui->Edit2->text());
    // The file is loaded before the editor opens: one that cannot be loaded is reported and the
    // entry form stays, so SAVE & EXIT can never write the placeholder over the unread text.
    if (ExtraTextExists(name)) {
        LoadExtraText(ExtraTextPath(name), *note);
    } else if (name == text::trimmed(name)) {
        // The note the viewer shows under an older spelling (blanks around the name, Windows-1252
        // bytes) opens for editing; saving writes it under the editor's own name.
        if (const QByteArray found = FindExtraText(name); !found.isEmpty())
            LoadExtraTextFile(found, *note);
    }
    note->setModified(false); // only typing counts as a change
    ui->RichEdit2->setAccessibleName(
        QStringLiteral("Extra text of ") +
        text::trimmed(ui->Edit1->text() + QLatin1Char(' ') + ui->Edit2->text()));
    ui->GroupBox2->show();
    ui->GroupBox1->hide();
    keepFocusShown(); // no focus is set: the hidden form hands it on to the editor
    setText(ui->RichEdit2, std::move(note));
}

// Asks the editor's question; true on Yes.
bool TForm2::askToCloseEditor(const QString &question) {
    return messages::show(this, messages::Kind::Information, question,
                          messages::Yes | messages::No) == messages::Yes;
}

// The editor makes way for the entry form again.
void TForm2::closeEditor() {
    ui->GroupBox2->hide();
    keepFocusShown();
    ui->GroupBox1->show();
    keepFocusShown();
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
