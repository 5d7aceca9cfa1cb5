#pragma once

#include "data/appstate.h"

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class ImportWindow;
}
namespace meridoc::cards {
struct ContactFileReport;
}

// The window a contact file opened from the desktop shows: what importing it into the card file
// would do (the dry run's report), with IMPORT to import it and CANCEL to leave the card file as
// it is. Once imported it shows the outcome, and its CANCEL reads CLOSE.
class ImportWindow : public QDialog {
    Q_OBJECT

public:
    // `cardFile` names the program folder, extension and card file to import into; `files` are
    // the contact files (vCard or CSV).
    ImportWindow(const meridoc::ApplicationState &cardFile, const QStringList &files,
                 QWidget *parent = nullptr);
    ~ImportWindow() override;

    void Button1Click(); // IMPORT
    void Button2Click(); // CANCEL, or CLOSE once imported

public slots:
    // Escape presses CANCEL.
    void reject() override;

private:
    // Runs once the window is on screen and the event loop turns.
    void showDryRun();
    QString fileNames() const; // of the contact files, for the label
    void showReport(const meridoc::cards::ContactFileReport &report, bool imported);

    std::unique_ptr<Ui::ImportWindow> ui;
    meridoc::ApplicationState cardFile_;
    QStringList files_;
};
