#include "about_window.h"
#include "desktop/desktop_identity.h"
#include "main_window.h"
#include "search_edit_window.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIDOC"));
    meridoc::applyDesktopIdentity();

    TForm1 form1;
    TForm2 form2(&form1);
    TForm3 form3(&form1);
    form1.setForms(&form2, &form3);

    form1.show();
    return app.exec();
}
