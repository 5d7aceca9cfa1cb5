#include "windows.h"

#include <QAction>
#include <QCoreApplication>
#include <QRadioButton>

namespace testsupport {

ProgramWindows::ProgramWindows(std::nullptr_t) {
    start();
}

ProgramWindows::ProgramWindows(std::initializer_list<Fields> homeCard, char junk) {
    dir_.write("home.crd", cardFileBytes(homeCard, junk));
    dir_.write("meridoc.ini", "[filenames]\r\nextention=crd\r\ndefaultfile=home\r\n");
    start();
}

void ProgramWindows::start() {
    form1_ = std::make_unique<TForm1>(dir_.path());
    form2_ = std::make_unique<TForm2>(form1_.get());
    form3_ = std::make_unique<TForm3>(form1_.get());
    form1_->setForms(form2_.get(), form3_.get());
    form1_->show();
}

ProgramWindows::~ProgramWindows() {
    form1_->setForms(nullptr, nullptr);
    form3_.reset();
    form2_.reset();
    form1_.reset();
}

void ProgramWindows::trigger(const char *action) {
    form1_->findChild<QAction *>(action)->trigger();
}

void ProgramWindows::searchFor(const QString &text, bool byName) {
    trigger("SEARCH");
    main<QRadioButton>(byName ? "RadioButton1" : "RadioButton2")->setChecked(true);
    main<QLineEdit>("Edit1")->setText(text);
    click1("Button6");
    QCoreApplication::processEvents(); // a failed search is reported once the window is shown
}

QList<QStringList> ProgramWindows::resultRows() {
    QList<QStringList> rows;
    for (int r = 1; r < grid().rowCount(); ++r) {
        QStringList cells;
        for (const QString &c : grid().rowCells(r))
            cells.append(c);
        rows.append(cells);
    }
    return rows;
}

} // namespace testsupport
