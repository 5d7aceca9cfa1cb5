#include "about_window.h"
#include "accessible_line_edit.h"
#include "data/appstate.h"
#include "desktop/desktop_identity.h"
#include "import_window.h"
#include "main_window.h"
#include "search_edit_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

#include <memory>

namespace {

// The contact files the program was started with (the desktop passes a file opened with it),
// as absolute paths. Anything that is not a file name is ignored, as it always was.
QStringList contactFiles(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("vCard or CSV files to import"));
    QStringList files;
    if (!parser.parse(arguments))
        return files;
    for (const QString &file : parser.positionalArguments())
        files.append(QFileInfo(file).absoluteFilePath());
    return files;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIDOC"));
    meridoc::applyDesktopIdentity();
    // Before any window exists: an interface made for a control is kept as long as the control.
    meridoc::installLineEditAccessibility();

    TForm1 form1;
    TForm2 form2(&form1);
    TForm3 form3(&form1);
    form1.setForms(&form2, &form3);

    form1.show();
    // Beside the main window, the import of the contact files into its card file.
    std::unique_ptr<ImportWindow> importWindow;
    if (const QStringList files = contactFiles(QApplication::arguments()); !files.isEmpty()) {
        importWindow = std::make_unique<ImportWindow>(meridoc::AppState, files);
        importWindow->show();
    }
    return app.exec();
}
