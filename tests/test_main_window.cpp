#include "app/main_window.h"
#include "app/search_edit_window.h"
#include "data/appstate.h"
#include "support/program_dir.h"
#include "support/scripted_messages.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
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
