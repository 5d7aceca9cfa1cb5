#include "app/main_window.h"
#include "app/search_edit_window.h"
#include "data/appstate.h"
#include "support/program_dir.h"
#include "support/scripted_messages.h"
#include "support/windows.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace meridoc;
using testsupport::ScriptedMessages;
using testsupport::TempProgramDir;

namespace {

const QStringList LetterPad = {"Label3", "StringGrid1",  "Button2",      "Button8", "Label1",
                               "Edit1",  "RadioButton1", "RadioButton2", "Button6", "Button7"};
const QStringList FileControls = {"Label4",  "Label2",  "MaskEdit2", "FileListBox1", "Button1",
                                  "Button4", "Button9", "Button11",  "Button5"};

QStringList visibleControls(const TForm1 &w) {
    QStringList out;
    for (const QString &name : LetterPad + FileControls) {
        const auto *c = w.findChild<QWidget *>(name);
        if (c && !c->isHidden())
            out.append(name);
    }
    return out;
}

QAction *action(const TForm1 &w, const char *name) {
    return w.findChild<QAction *>(name);
}

} // namespace

TEST(MainWindow, FirstStartShowsTheSeedCardFileInTheCaption) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("MERIDOC   TANRO"));
    EXPECT_TRUE(visibleControls(w).isEmpty());
    EXPECT_FALSE(w.findChild<QWidget *>("Timelabel1")->isHidden());
    EXPECT_EQ(w.geometry().size(), QSize(339, 245));
}

TEST(MainWindow, AFailingStartKeepsTheCaptionAndRunsOn) {
    TempProgramDir dir;
    dir.write("tanro.crd", {});
    dir.makeReadOnly("tanro.crd");
    ScriptedMessages boxes;
    boxes.expectError("File access denied");
    TForm1 w(dir.path());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Form1"));
    EXPECT_EQ(AppState.ProgramDir, dir.path());
    EXPECT_TRUE(AppState.CurrentFileName.isEmpty());
}

TEST(MainWindow, MenuHoldsEveryCommandInOrder) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    QStringList bar;
    for (QAction *a : w.menuBar()->actions())
        bar.append(a->text());
    EXPECT_EQ(bar, (QStringList{"FILE", "NEW RECORD", "SEARCH/EDIT", "HELP"}));
    QStringList file;
    for (QAction *a : w.findChild<QMenu *>("FILE1")->actions())
        file.append(a->text());
    EXPECT_EQ(file, (QStringList{"NEW", "OPEN", "SAVE AS", "RENAME", "DELETE", "EXIT"}));
    QStringList help;
    for (QAction *a : w.findChild<QMenu *>("HELP1")->actions())
        help.append(a->text());
    EXPECT_EQ(help, (QStringList{"HELP", "ABOUT"}));
}

struct SwitchCase {
    const char *command;
    QStringList shown;
    QString title;
};

class GroupSwitching : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(GroupSwitching, EachCommandShowsOnlyItsControls) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    // Start from the other group being on screen, so the command must hide it.
    action(w, GetParam().command == QStringLiteral("SEARCH") ? "OPEN1" : "SEARCH")->trigger();
    action(w, GetParam().command)->trigger();
    QStringList expected = GetParam().shown;
    expected.sort();
    QStringList visible = visibleControls(w);
    visible.sort();
    EXPECT_EQ(visible, expected);
    if (!GetParam().title.isEmpty()) {
        EXPECT_EQ(w.findChild<QLabel *>("Label4")->text(), GetParam().title);
    }
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, GroupSwitching,
    ::testing::Values(
        SwitchCase{"NEW1", {"Label4", "Label2", "MaskEdit2", "Button4", "Button5"}, "File/New"},
        SwitchCase{"OPEN1", {"Label4", "FileListBox1", "Button9", "Button5"}, "File/Open"},
        SwitchCase{
            "SAVEAS1", {"Label4", "Label2", "MaskEdit2", "Button11", "Button5"}, "File/Save As"},
        SwitchCase{
            "RENAME1", {"Label4", "Label2", "MaskEdit2", "Button1", "Button5"}, "File/Rename"},
        SwitchCase{"DELETE1", {"Label4", "FileListBox1", "Button1", "Button5"}, "File/Delete"},
        SwitchCase{"SEARCH", LetterPad, ""}),
    [](const auto &info) { return std::string(info.param.command); });

TEST(MainWindow, OpeningTheFileMenuHidesOnlyTheLetterPad) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    action(w, "SEARCH")->trigger();
    w.FILE1Click();
    EXPECT_TRUE(visibleControls(w).isEmpty());

    action(w, "NEW1")->trigger();
    w.FILE1Click();
    EXPECT_EQ(visibleControls(w).size(), 5);
}

TEST(MainWindow, CancelButtonsHideTheirGroups) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    action(w, "SAVEAS1")->trigger();
    w.findChild<QPushButton *>("Button5")->click();
    EXPECT_TRUE(visibleControls(w).isEmpty());

    action(w, "SEARCH")->trigger();
    w.findChild<QLineEdit *>("Edit1")->setText("AB");
    w.findChild<QPushButton *>("Button7")->click();
    EXPECT_TRUE(visibleControls(w).isEmpty());
    EXPECT_TRUE(w.findChild<QLineEdit *>("Edit1")->text().isEmpty());
}

TEST(MainWindow, SaveAsThenRenameLeavesOnlyTheRenameOkButton) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    action(w, "SAVEAS1")->trigger();
    action(w, "RENAME1")->trigger();
    const QStringList visible = visibleControls(w);
    EXPECT_TRUE(visible.contains("Button1"));
    EXPECT_FALSE(visible.contains("Button11"));
    action(w, "OPEN1")->trigger();
    action(w, "DELETE1")->trigger();
    EXPECT_TRUE(visibleControls(w).contains("Button1"));
    EXPECT_FALSE(visibleControls(w).contains("Button9"));
}

TEST(MainWindow, TheNameEntryKeepsItsText) {
    TempProgramDir dir;
    TForm1 w(dir.path());
    action(w, "NEW1")->trigger();
    auto *entry = w.findChild<QLineEdit *>("MaskEdit2");
    entry->setText("home");
    w.findChild<QPushButton *>("Button5")->click();
    action(w, "RENAME1")->trigger();
    EXPECT_EQ(entry->text().trimmed(), QStringLiteral("home"));
}

// Keyboard and mouse on the main window. Steps: "menu:<action>", "type:<text>", "key:<name>" (to
// the focused control), "focus:<control>", "click:<control>:<x>", "dclick:<column>". The row
// reads one thing afterwards: a control's shown text, the active menu-bar item, the focused
// control or the visible controls.
struct InputCase {
    const char *name;
    QStringList steps;
    const char *read;
    QString expected;
};

void PrintTo(const InputCase &c, std::ostream *out) {
    *out << c.name;
}

class MainWindowInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(MainWindowInput, ReachesTheRightControl) {
    testsupport::ProgramWindows w;
    QApplication::setActiveWindow(&w.form1());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form1()));
    const auto focused = [&] {
        QWidget *f = QApplication::focusWidget();
        return f ? f : static_cast<QWidget *>(&w.form1());
    };
    const QMap<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
        {"Alt", {Qt::Key_Alt, Qt::AltModifier}}, {"F10", {Qt::Key_F10, {}}},
        {"Right", {Qt::Key_Right, {}}},          {"Home", {Qt::Key_Home, {}}},
        {"Delete", {Qt::Key_Delete, {}}},        {"Tab", {Qt::Key_Tab, {}}},
        {"Return", {Qt::Key_Return, {}}},        {"Enter", {Qt::Key_Enter, Qt::KeypadModifier}}};
    for (const QString &step : GetParam().steps) {
        const QString arg = step.section(':', 1, 1);
        if (step.startsWith("menu:")) {
            w.trigger(arg.toLatin1());
        } else if (step.startsWith("type:")) {
            for (const QChar c : arg) {
                QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
                QCoreApplication::sendEvent(focused(), &key);
            }
        } else if (step.startsWith("key:")) {
            QTest::keyClick(focused(), keys[arg].first, keys[arg].second);
        } else if (step.startsWith("focus:")) {
            w.main(arg.toLatin1())->setFocus();
        } else if (step.startsWith("click:")) {
            QTest::mouseClick(w.main(arg.toLatin1()), Qt::LeftButton, {},
                              QPoint(step.section(':', 2).toInt(), 10));
        } else if (step.startsWith("dclick:")) {
            auto *pad = w.main<QTableWidget>("StringGrid1");
            const QPoint at = pad->visualRect(pad->model()->index(0, arg.toInt())).center();
            QTest::mouseClick(pad->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(pad->viewport(), Qt::LeftButton, {}, at);
        }
        QCoreApplication::processEvents();
    }
    const QString read = GetParam().read;
    QString actual;
    if (read == "menu")
        actual = w.form1().menuBar()->activeAction() ? w.form1().menuBar()->activeAction()->text()
                                                     : QString();
    else if (read == "focus")
        actual = focused()->objectName();
    else if (read == "visible")
        actual = visibleControls(w.form1()).join(' ');
    else
        actual = w.main<QLineEdit>(read.toLatin1())->displayText();
    EXPECT_EQ(actual, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, MainWindowInput,
    ::testing::Values(
        // The name box has the focus with the last name selected: typing replaces it.
        InputCase{"TypingReplacesTheLastName",
                  {"menu:NEW1", "type:home", "menu:RENAME1", "type:office"},
                  "MaskEdit2",
                  "office______"},
        InputCase{"AClickInTheBlanksTypesAfterTheName",
                  {"menu:NEW1", "type:home", "click:MaskEdit2:70", "type:x"},
                  "MaskEdit2",
                  "homex_______"},
        InputCase{"ADeletedLetterLeavesNoGap",
                  {"menu:NEW1", "type:home", "key:Home", "key:Right", "key:Delete"},
                  "MaskEdit2",
                  "hme_________"},
        InputCase{"OnlyLettersAndDigitsOfWindows1252",
                  {"menu:NEW1", QString::fromUtf8("type:a\u0436\u00e9\u00bd\u00b2_ 1\u0160")},
                  "MaskEdit2",
                  QString::fromUtf8("a\u00e91\u0160________")},
        InputCase{"EachClickOfADoubleClickAppends", {"menu:SEARCH", "dclick:2"}, "Edit1", "CC"},
        InputCase{"TabLeavesTheLetterPad",
                  {"menu:SEARCH", "focus:StringGrid1", "key:Tab"},
                  "focus",
                  "Button2"},
        InputCase{"AltOpensTheMenuBar", {"key:Alt"}, "menu", "FILE"},
        InputCase{"F10OpensTheMenuBar", {"key:F10"}, "menu", "FILE"},
        InputCase{"ArrowsAndEnterRunACommand",
                  {"key:F10", "key:Right", "key:Right", "key:Return"},
                  "visible",
                  LetterPad.join(' ')},
        InputCase{"EnterPressesTheFocusedButton",
                  {"menu:OPEN1", "focus:Button5", "key:Return"},
                  "visible",
                  ""},
        InputCase{"KeypadEnterPressesTheFocusedButton",
                  {"menu:SEARCH", "focus:Edit1", "type:AB", "focus:Button8", "key:Enter"},
                  "Edit1",
                  ""}),
    [](const auto &info) { return std::string(info.param.name); });
