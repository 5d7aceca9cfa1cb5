// The card-file commands of the main window: the OK buttons of NEW, OPEN, SAVE AS, RENAME and
// DELETE. The file work itself is done by the data layer (data/cardfiles.h); an error it raises
// ends the command before the current card file, the caption or the default file change, and
// the guard reports it.
#include "main_window.h"

#include "data/appstate.h"
#include "data/cardfiles.h"
#include "data/configuration.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/text.h"
#include "messages.h"
#include "ui_main_window.h"

#include <QScopeGuard>

using namespace meridoc;

namespace {

const QString DefaultQuestion = QStringLiteral("Make this the default file ?");

QString cardFileName(const QString &baseName) {
    return baseName + "." + AppState.CardExtension;
}

bool cardFileExists(const QString &baseName) {
    return files::fileExists(AppState.ProgramDir, cardFileName(baseName));
}

bool askYesNo(QWidget *parent, messages::Kind kind, const QString &text) {
    return messages::show(parent, kind, text, messages::Yes | messages::No) == messages::Yes;
}

void showError(QWidget *parent, const QString &text) {
    messages::show(parent, messages::Kind::Error, text, messages::Ok);
}

// Runs `command(name)` for a non-empty name, after asking whether an existing card file of that
// name may be overwritten. A name the seed card file has is refused in an error box like the
// commands' own refusals, so the command ends as after any other outcome.
template <typename Command> void runForName(QWidget *parent, const QString &name, Command command) {
    if (name.isEmpty())
        return;
    if (cardFileExists(name) &&
        !askYesNo(parent, messages::Kind::Warning, QStringLiteral("FILE EXISTS - OVERWRITE?")))
        return;
    try {
        command(name);
    } catch (const ESeedCardFileTarget &refusal) {
        showError(parent, refusal.message());
    }
}

// A new card file holding the seed entry becomes current.
void CreateCardFile(TForm1 &form, const QString &name) {
    if (SameBaseName(name, AppState.CurrentFileName)) {
        showError(&form, QStringLiteral("Cannot overwrite current working file!"));
        return;
    }
    WriteSeedCardFile();
    // For the name TANRO with the seed file's own extension this is the seed card file itself,
    // and nothing is copied.
    CopyCardFile(SeedCardFileName, cardFileName(name));
    if (askYesNo(&form, messages::Kind::Warning, DefaultQuestion))
        WriteDefaultFile(name);
    form.setCardFileCaption(name);
    AppState.CurrentFileName = name;
}

// A copy of the current card file becomes current.
void SaveCardFileAs(TForm1 &form, const QString &name) {
    CopyCardFile(cardFileName(AppState.CurrentFileName), cardFileName(name));
    form.setCardFileCaption(name);
    AppState.CurrentFileName = name;
    if (askYesNo(&form, messages::Kind::Information, DefaultQuestion))
        WriteDefaultFile(name);
}

// The current card file gets a new name, stays current and becomes the default.
void RenameCardFile(TForm1 &form, const QString &name) {
    if (SameBaseName(name, AppState.CurrentFileName)) {
        showError(&form, QStringLiteral("Cannot rename to the same name!"));
        return;
    }
    MoveCardFile(cardFileName(AppState.CurrentFileName), cardFileName(name));
    AppState.CurrentFileName = text::upperAscii(name);
    form.setCardFileCaption(AppState.CurrentFileName);
    WriteDefaultFile(AppState.CurrentFileName);
}

// The name entry's text with its empty positions read as blanks, without leading and trailing
// blanks. (The line edit's text() drops empty positions altogether; the display text keeps each
// position and shows an empty one as the mask's blank character.)
QString enteredName(const QLineEdit &entry) {
    QString shown = entry.displayText();
    if (!entry.inputMask().isEmpty())
        shown.replace(QLatin1Char('_'), QLatin1Char(' '));
    return text::trimmed(shown);
}

// The selected file of the list, or an empty name when none is selected.
QString selectedFileName(const QListWidget &list) {
    const QList<QListWidgetItem *> selected = list.selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

} // namespace

void TForm1::fillFileList() {
    ui->FileListBox1->clear();
    ui->FileListBox1->addItems(
        files::listWithExtension(AppState.ProgramDir, AppState.CardExtension));
}

// NEW
void TForm1::Button4Click() {
    runForName(this, enteredName(*ui->MaskEdit2),
               [this](const QString &name) { CreateCardFile(*this, name); });
    hideFileControls();
}

// OPEN: the listed file becomes current. It is not read here; the next search reads it.
void TForm1::Button9Click() {
    const QString selected = selectedFileName(*ui->FileListBox1);
    if (!text::trimmed(selected).isEmpty()) {
        // The base name is everything before the final "." + extension, so "A.B.CRD" is A.B.
        const QString name = selected.left(selected.size() - AppState.CardExtension.size() - 1);
        if (!files::fileExists(AppState.ProgramDir, selected))
            throw EInOutError(ioerror::FileNotFound);
        const QString previousCaption = windowTitle();
        setCardFileCaption(name);
        try {
            if (askYesNo(this, messages::Kind::Information, DefaultQuestion))
                WriteDefaultFile(name);
        } catch (...) {
            // The command ends without a new current card file; the caption must say so.
            setWindowTitle(previousCaption);
            throw;
        }
        AppState.CurrentFileName = name;
    }
    hideFileControls();
}

// SAVE AS
void TForm1::Button11Click() {
    runForName(this, enteredName(*ui->MaskEdit2),
               [this](const QString &name) { SaveCardFileAs(*this, name); });
    hideFileControls();
}

// RENAME or DELETE, each only while its input is on screen.
void TForm1::Button1Click() {
    if (button1Role_ == Button1Role::Rename && !ui->MaskEdit2->isHidden()) {
        runForName(this, enteredName(*ui->MaskEdit2),
                   [this](const QString &name) { RenameCardFile(*this, name); });
        hideFileControls();
        fillFileList();
    } else if (button1Role_ == Button1Role::Delete && !ui->FileListBox1->isHidden()) {
        // The list stays on screen for further deletions and shows what is left, even when the
        // deletion failed.
        const auto refresh = qScopeGuard([this] { fillFileList(); });
        const QString selected = selectedFileName(*ui->FileListBox1);
        if (selected.isEmpty())
            return;
        if (text::equalsIgnoringAsciiCase(selected, cardFileName(AppState.CurrentFileName))) {
            showError(this, QStringLiteral("Cannot delete current working file!"));
        } else if (askYesNo(this, messages::Kind::Warning,
                            "File " + selected + " will be " +
                                "permanently deleted along with all entries it contains! - "
                                "Are you sure?")) {
            DeleteCardFile(selected);
        }
    }
}
