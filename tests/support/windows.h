#pragma once

#include "app/about_window.h"
#include "app/main_window.h"
#include "app/results_grid.h"
#include "app/search_edit_window.h"
#include "program_dir.h"

#include <QLineEdit>
#include <QPushButton>

#include <initializer_list>
#include <memory>

namespace testsupport {

// The three windows of the program on a temporary program directory, the way the program starts
// them. With a card file given, it is written as "home.crd" and made the default card file first.
class ProgramWindows {
public:
    ProgramWindows() : ProgramWindows(nullptr) {}
    explicit ProgramWindows(std::initializer_list<Fields> homeCard, char junk = '\0');
    ~ProgramWindows();

    TForm1 &form1() { return *form1_; }
    TForm2 &form2() { return *form2_; }
    meridoc::ResultsGrid &grid() { return form2_->grid(); }
    const TempProgramDir &dir() const { return dir_; }

    template <typename T = QWidget> T *main(const char *name) {
        return form1_->findChild<T *>(name);
    }
    template <typename T = QWidget> T *search(const char *name) {
        return form2_->findChild<T *>(name);
    }
    void click1(const char *button) { main<QPushButton>(button)->click(); }
    void click2(const char *button) { search<QPushButton>(button)->click(); }
    void trigger(const char *action);

    // SEARCH/EDIT, the search text typed into the pad's box, then START SEARCH.
    void searchFor(const QString &text, bool byName = false);
    // All rows of the results grid after the header, as texts.
    QList<QStringList> resultRows();
    QByteArray homeCard() const { return dir_.read("home.crd"); }

private:
    explicit ProgramWindows(std::nullptr_t);
    void start();

    TempProgramDir dir_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<TForm2> form2_;
    std::unique_ptr<TForm3> form3_;
};

} // namespace testsupport
