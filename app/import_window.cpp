#include "import_window.h"

#include "cards/contact_file_import.h"
#include "guard.h"
#include "messages.h"
#include "ui_import_window.h"
#include "window_style.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

using namespace meridoc;

namespace {

// The wait cursor while an import reads its files, whatever ends it.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

cards::ContactFileReport importFiles(const ApplicationState &cardFile, const QStringList &files,
                                     bool dryRun) {
    const WaitCursor wait;
    return cards::ImportContactFiles(cardFile, files, dryRun);
}

} // namespace

ImportWindow::ImportWindow(const ApplicationState &cardFile, const QStringList &files,
                           QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::ImportWindow>()), cardFile_(cardFile),
      files_(files) {
    ui->setupUi(this);
    applyWindowStyle(this);
    ui->Label1->setBuddy(ui->Memo1);
    ui->Memo1->setAccessibleName(QStringLiteral("Import report"));
    connect(ui->Button1, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { Button1Click(); }); });
    connect(ui->Button2, &QPushButton::clicked, this,
            [this] { guarded(this, [this] { Button2Click(); }); });
    // The window shows at once; the dry run, which reads every contact, follows once the event
    // loop has put it on screen.
    ui->Label1->setText(fileNames() + QStringLiteral("\nReading the contacts..."));
    ui->Button1->setEnabled(false);
    QTimer::singleShot(0, this, [this] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); // painted first
        guarded(this, [this] { showDryRun(); });
    });
    ui->Memo1->setFocus(Qt::OtherFocusReason); // the first control
}

ImportWindow::~ImportWindow() = default;

void ImportWindow::showDryRun() {
    showReport(importFiles(cardFile_, files_, true), false);
}

QString ImportWindow::fileNames() const {
    QStringList names;
    for (const QString &file : files_)
        names.append(QFileInfo(file).fileName());
    return names.join(QStringLiteral(", "));
}

void ImportWindow::showReport(const cards::ContactFileReport &report, bool imported) {
    QString summary = report.summary;
    QString details = report.details;
    if (!report.error.isEmpty()) {
        summary = QStringLiteral("Nothing can be imported.");
        details = report.error + QLatin1Char('.');
        if (report.unreadable)
            details += QStringLiteral("\n\nMERIDOC imports vCard files and the CSV files of "
                                      "Google Contacts, Outlook and Thunderbird.");
    } else if (report.contacts == 0) {
        details = QStringLiteral("The file holds no contacts.");
    } else if (report.notShown > 0) {
        details += QStringLiteral("... and %1 more contacts, not shown here.").arg(report.notShown);
    }
    ui->Label1->setText(fileNames() + QLatin1Char('\n') + summary);
    ui->Memo1->setPlainText(details);
    ui->Memo1->setAccessibleDescription(summary); // read out with the report's name
    const bool canImport = !imported && report.error.isEmpty() && report.added > 0;
    // Named before IMPORT goes and hands it the focus; once imported, a screen reader reads the
    // outcome with it.
    ui->Button2->setText(imported ? QStringLiteral("CLOSE") : QStringLiteral("CANCEL"));
    ui->Button2->setAccessibleDescription(imported ? summary : QString());
    ui->Button1->setVisible(!imported);
    ui->Button1->setEnabled(canImport);
    (canImport ? ui->Button1 : ui->Button2)->setDefault(true); // Enter presses it
}

void ImportWindow::Button1Click() {
    if (!ui->Button1->isEnabled())
        return;
    const cards::ContactFileReport report = importFiles(cardFile_, files_, false);
    if (!report.error.isEmpty()) {
        messages::showErrorReport(this, report.error);
        showDryRun(); // what an import would do now
        return;
    }
    showReport(report, true);
    ui->Button2->setFocus(Qt::OtherFocusReason);
}

void ImportWindow::Button2Click() {
    done(Rejected);
}

void ImportWindow::reject() {
    Button2Click();
}
