#include "data/appstate.h"
#include "data/extratext.h"
#include "support/scripted_messages.h"
#include "support/windows.h"

#include <QGroupBox>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <fstream>

using namespace meridoc;
using messages::Kind;
using testsupport::Fields;
using testsupport::ProgramWindows;
using testsupport::recordsOf;
using testsupport::ScriptedMessages;

namespace {

const QString CannotEdit =
    QStringLiteral("You cannot edit this file. - Open or create a different file.");
const QString Mandatory = QStringLiteral("Name and surname fields are mandatory.");

class EntryEditing : public ::testing::Test {
protected:
    // Opens the entry form on a result row.
    void edit(ProgramWindows &w, int row) {
        w.grid().setCurrentRow(row);
        w.click2("Button3");
    }
    QLineEdit *box(ProgramWindows &w, const char *name) { return w.search<QLineEdit>(name); }
    // A right click on the row, or with `key` the row selected and the key pressed on the grid.
    void rightClick(ProgramWindows &w, int row, QKeyCombination key = {}) {
        auto *view = w.search<QTableView>("StringGrid1");
        const QRect r = view->visualRect(view->model()->index(row - 1, 0));
        if (key.key() == Qt::Key_unknown)
            return QTest::mousePress(view->viewport(), Qt::RightButton, {}, r.center());
        w.grid().setCurrentRow(row);
        QTest::keyClick(view, key.key(), key.keyboardModifiers());
    }
    QString deleteQuestion(const QString &name, const QString &surname) {
        return QStringLiteral("You are about to delete the entry for ") + name + " " + surname;
    }
};

} // namespace

TEST_F(EntryEditing, EditShowsTheFormForTheSelectedRow) {
    ProgramWindows w({{"Anna", "Smith", "111", "222", "friend"}, {"Bob", "Stone", "", "", ""}});
    w.searchFor("S");
    edit(w, 1);
    EXPECT_EQ(w.search<QGroupBox>("GroupBox1")->title(), QStringLiteral("Edit record"));
    EXPECT_TRUE(w.search("GroupBox1")->isVisible());
    EXPECT_EQ(w.search<QLabel>("Label3")->text(), QStringLiteral("Edit details for Anna Smith."));
    for (const char *hidden :
         {"Edit1", "Edit2", "Label2", "StringGrid1", "Button1", "Button3", "Button8", "Label1"})
        EXPECT_TRUE(w.search(hidden)->isHidden()) << hidden;
    EXPECT_TRUE(w.search("Button5")->isVisible());
    EXPECT_EQ(box(w, "Edit3")->text(), QStringLiteral("111"));
    EXPECT_EQ(box(w, "Edit4")->text(), QStringLiteral("222"));
    EXPECT_EQ(box(w, "Edit5")->text(), QStringLiteral("friend"));
    EXPECT_EQ(w.form2().width(), 380);
    EXPECT_EQ(w.form2().focusWidget(), box(w, "Edit3"));
}

TEST_F(EntryEditing, EditOnTheNoMatchRowDoesNothing) {
    ProgramWindows w({{"Anna", "Smith", "", "", ""}});
    w.searchFor("Q");
    edit(w, 1);
    EXPECT_TRUE(w.search("GroupBox1")->isHidden());
    EXPECT_TRUE(w.search("StringGrid1")->isVisible());
}

TEST_F(EntryEditing, DoneWithoutAChangeWritesNothing) {
    ProgramWindows w({{"Anna", "Smith", "1", "2", "c"}}, '#');
    const QByteArray before = w.homeCard();
    w.searchFor("");
    edit(w, 1);
    w.click2("Button4");
    EXPECT_EQ(w.homeCard(), before); // even the meaningless bytes are untouched
    EXPECT_TRUE(w.search("StringGrid1")->isVisible());
    EXPECT_EQ(w.form2().width(), 578);
}

TEST_F(EntryEditing, ChangingAPhoneRewritesSortsAndReselectsTheRow) {
    ProgramWindows w({{"Al", "Adams", "", "", ""},
                      {"Anna", "Smith", "1", "", ""},
                      {"Anna", "Smith", "0", "", ""},
                      {"Zed", "Zulu", "", "", ""}});
    w.searchFor("");
    edit(w, 2);
    box(w, "Edit3")->setText("  555  ");
    w.click2("Button4");
    EXPECT_EQ(recordsOf(w.homeCard()), (QList<Fields>{{"Al", "Adams", "", "", ""},
                                                      {"Anna", "Smith", "0", "", ""},
                                                      {"Anna", "Smith", "555", "", ""},
                                                      {"Zed", "Zulu", "", "", ""}}));
    // The search ran again and row 2 is selected, now holding the other Anna Smith.
    EXPECT_EQ(w.grid().currentRow(), 2);
    EXPECT_EQ(w.grid().cell(2, 2), QStringLiteral("0"));
    EXPECT_EQ(w.grid().cell(2, 3), QStringLiteral("555"));
}

TEST_F(EntryEditing, WhatCountsAsAChange) {
    const struct {
        const char *what;
        Fields stored;
        QString phone1, phone2, comments;
        bool rewritten;
    } cases[] = {
        {"trailing blank stored by an addition", {"A", "B", "1 ", "", ""}, "1 ", "", "", true},
        {"characters moved between fields", {"A", "B", "1", "23", ""}, "12", "3", "", true},
        {"same texts", {"A", "B", "1", "23", "x"}, "1", "23", "x", false},
        {"same after trimming the boxes", {"A", "B", "1", "23", "x"}, " 1", "23 ", "x", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ProgramWindows w({c.stored});
        w.searchFor("");
        edit(w, 1);
        box(w, "Edit3")->setText(c.phone1);
        box(w, "Edit4")->setText(c.phone2);
        box(w, "Edit5")->setText(c.comments);
        const QByteArray before = w.homeCard();
        w.click2("Button4");
        EXPECT_EQ(w.homeCard() != before, c.rewritten);
    }
}

TEST_F(EntryEditing, ChangingOneOfTwoIdenticalEntriesLeavesOne) {
    ProgramWindows w({{"Anna", "Smith", "1", "", ""}, {"Anna", "Smith", "1", "", ""}});
    w.searchFor("");
    edit(w, 2);
    box(w, "Edit3")->setText("2");
    w.click2("Button4");
    EXPECT_EQ(recordsOf(w.homeCard()), (QList<Fields>{{"Anna", "Smith", "2", "", ""}}));
    EXPECT_EQ(w.grid().rowCount(), 2);
    EXPECT_EQ(w.grid().currentRow(), 1); // row 2 no longer exists: the last row is selected
}

// Another program (a sync round) writes the card file while the window shows it: the results
// follow it with the same entry selected, nothing typed is replaced, and DONE never leaves a
// second version of an entry changed elsewhere.
TEST_F(EntryEditing, TheCardFileChangedByAnotherProgram) {
    using L = QList<Fields>;
    const L start = {{"Anna", "Smith", "1", "", ""},
                     {"Bob", "Smith", "2", "", ""},
                     {"Cy", "Smith", "3", "", ""}};
    const struct {
        const char *what;
        bool formOpen, done; // EDIT on Bob, "typed" into PHONE1; then DONE or not
        L elsewhere, after;
        bool warned;
        const char *selected;
    } rows[] = {
        {"results follow, same entry selected",
         false,
         false,
         {{"Al", "Adams", "", "", ""}, start[0], start[1], start[2]},
         {},
         false,
         "Bob"},
        {"results follow a removal", false, false, {start[0], start[2]}, {}, false, "Cy"},
        {"a change waits while the form is open", true, false, {start[0], start[2]}, {}, false, ""},
        {"DONE on an entry changed elsewhere",
         true,
         true,
         {start[0], {"Bob", "Smith", "9", "", ""}, start[2]},
         {},
         true,
         "Bob"},
        {"DONE on an entry removed elsewhere", true, true, {start[0], start[2]}, {}, true, "Cy"},
        {"DONE after another entry changed",
         true,
         true,
         {{"Anna", "Smith", "5", "", ""}, start[1], start[2]},
         {{"Anna", "Smith", "5", "", ""}, {"Bob", "Smith", "typed", "", ""}, start[2]},
         false,
         "Bob"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ProgramWindows w({start[0], start[1], start[2]});
        w.searchFor("");
        w.grid().setCurrentRow(2);
        if (row.formOpen) {
            edit(w, 2);
            box(w, "Edit3")->setText("typed");
        }
        QByteArray elsewhere;
        for (const Fields &f : row.elsewhere)
            elsewhere += testsupport::cardFileBytes({f});
        w.dir().write("home.crd", elsewhere);
        ScriptedMessages boxes;
        if (row.warned)
            boxes.expect(Kind::Warning,
                         "The entry for Bob Smith was changed elsewhere since the search. Nothing "
                         "was written; the search runs again.",
                         messages::Ok);
        if (row.done)
            w.click2("Button4");
        else
            w.form2().CardFileChanged();
        EXPECT_EQ(recordsOf(w.homeCard()), row.after.isEmpty() ? row.elsewhere : row.after);
        EXPECT_EQ(w.search("GroupBox1")->isVisible(), row.formOpen && !row.done);
        if (row.formOpen && !row.done)
            EXPECT_EQ(box(w, "Edit3")->text(), QStringLiteral("typed"));
        else
            EXPECT_EQ(w.grid().cell(0, w.grid().currentRow()), QString(row.selected));
        EXPECT_EQ(w.grid().rowCount(),
                  (row.formOpen && !row.done ? start : row.elsewhere).size() + 1);
    }
}

TEST_F(EntryEditing, DoneAndCancelLeaveTheFormTheSameWay) {
    ProgramWindows w({{"Anna", "Smith", "1", "", ""}});
    w.searchFor("");
    edit(w, 1);
    box(w, "Edit3")->setText("changed");
    w.click2("Button9");
    EXPECT_EQ(recordsOf(w.homeCard())[0][2], QByteArray("1"));
    EXPECT_TRUE(w.search("GroupBox1")->isHidden());
    for (const char *shown : {"StringGrid1", "Button1", "Button3", "Button8", "Label1"})
        EXPECT_TRUE(w.search(shown)->isVisible()) << shown;
    EXPECT_TRUE(w.form2().isVisible());
    EXPECT_EQ(w.search<QLabel>("Label3")->text(), QStringLiteral("SURNAME"));
    EXPECT_FALSE(w.search("Edit1")->isHidden());
}

TEST_F(EntryEditing, TheSeedCardFileRefusesChangesButAllowsDeletion) {
    ProgramWindows w;
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, CannotEdit, messages::Ok, messages::Ok);
        w.trigger("Newrecord1");
        EXPECT_TRUE(w.form1().isVisible());
        EXPECT_FALSE(w.form2().isVisible());
    }
    // Any case of the seed name is refused.
    AppState.CurrentFileName = "tanro";
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, CannotEdit, messages::Ok);
        w.trigger("Newrecord1");
    }
    AppState.CurrentFileName = "TANRO";
    w.dir().write("tanro.crd", testsupport::cardFileBytes(
                                   {{"TANRO", "SYSTEMS", "", "", ""}, {"X", "Y", "", "", ""}}));
    w.searchFor("");
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, CannotEdit, messages::Ok);
        edit(w, 1);
        EXPECT_TRUE(w.search("GroupBox1")->isHidden());
    }
    ScriptedMessages boxes;
    boxes.expect(Kind::Warning, deleteQuestion("X", "Y"), messages::Ok,
                 messages::Ok | messages::Cancel);
    rightClick(w, 2);
    EXPECT_EQ(recordsOf(w.dir().read("tanro.crd")).size(), 1);
}

TEST_F(EntryEditing, NewRecordAddsAsTypedAndReturnsToTheMainWindow) {
    ProgramWindows w({{"Zed", "Zulu", "", "", ""}});
    w.trigger("SEARCH"); // the pad is on screen before NEW RECORD
    w.trigger("Newrecord1");
    EXPECT_FALSE(w.form1().isVisible());
    EXPECT_TRUE(w.form2().isVisible());
    EXPECT_EQ(w.form2().width(), 380);
    EXPECT_EQ(w.search<QGroupBox>("GroupBox1")->title(), QStringLiteral("Add new record"));
    for (const char *hidden : {"StringGrid1", "Button1", "Button3", "Button5", "Button8", "Label1"})
        EXPECT_TRUE(w.search(hidden)->isHidden()) << hidden;
    for (const char *name : {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5"}) {
        EXPECT_TRUE(box(w, name)->isVisible()) << name;
        EXPECT_TRUE(box(w, name)->text().isEmpty()) << name;
    }

    box(w, "Edit1")->setText(QString(25, 'n'));
    box(w, "Edit2")->setText(" Adams");
    box(w, "Edit3")->setText("1 ");
    box(w, "Edit5")->setText(QString(60, 'c'));
    w.click2("Button4");
    EXPECT_EQ(recordsOf(w.homeCard()),
              (QList<Fields>{{QByteArray(20, 'n'), " Adams", "1 ", "", QByteArray(50, 'c')},
                             {"Zed", "Zulu", "", "", ""}}));
    EXPECT_TRUE(w.form1().isVisible());
    EXPECT_FALSE(w.form2().isVisible());
    EXPECT_TRUE(w.main("StringGrid1")->isVisible()); // the pad is back as it was

    // Letters the record cannot hold are written in Latin letters, never as '?'.
    w.trigger("Newrecord1");
    box(w, "Edit1")->setText(QStringLiteral("Łucja"));
    box(w, "Edit2")->setText(QStringLiteral("Kępińska"));
    w.click2("Button4");
    EXPECT_EQ(recordsOf(w.homeCard())[1], (Fields{"Lucja", "Kepinska", "", "", ""}));
}

TEST_F(EntryEditing, NamesAreMandatory) {
    ProgramWindows w({{"Zed", "Zulu", "", "", ""}});
    w.trigger("Newrecord1");
    box(w, "Edit1")->setText("   ");
    box(w, "Edit2")->setText("Smith");
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, Mandatory, messages::Ok, messages::Ok);
        w.click2("Button4");
    }
    EXPECT_TRUE(w.search("GroupBox1")->isVisible());
    EXPECT_EQ(box(w, "Edit1")->text(), QStringLiteral("   "));
    EXPECT_EQ(recordsOf(w.homeCard()).size(), 1);

    // CANCEL in add mode writes nothing and goes back to the main window.
    w.click2("Button9");
    EXPECT_TRUE(w.form1().isVisible());
    EXPECT_FALSE(w.form2().isVisible());
    EXPECT_EQ(recordsOf(w.homeCard()).size(), 1);
}

TEST_F(EntryEditing, EnterMovesThroughTheBoxes) {
    ProgramWindows w({{"Anna", "Smith", "", "", ""}});
    w.trigger("Newrecord1");
    QApplication::setActiveWindow(&w.form2());
    const char *cycle[] = {"Edit1", "Edit2", "Edit3", "Edit4", "Edit5", "Edit1"};
    box(w, "Edit1")->setFocus();
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(box(w, cycle[i]), Qt::Key_Return);
        EXPECT_EQ(w.form2().focusWidget(), box(w, cycle[i + 1])) << cycle[i];
    }
    // In edit mode the name boxes are hidden: Enter in COMMENTS goes to PHONE1.
    w.click2("Button9");
    w.searchFor("");
    edit(w, 1);
    QTest::keyClick(box(w, "Edit5"), Qt::Key_Return);
    EXPECT_EQ(w.form2().focusWidget(), box(w, "Edit3"));
}

TEST_F(EntryEditing, ClosingTheWindowInEditModeRestoresTheFormForTheNextAddition) {
    ProgramWindows w({{"Anna", "Smith", "", "", ""}});
    w.searchFor("");
    edit(w, 1);
    w.form2().close();
    w.trigger("Newrecord1");
    for (const char *name : {"Edit1", "Edit2", "Label2"})
        EXPECT_TRUE(w.search(name)->isVisible()) << name;
    EXPECT_EQ(w.search<QLabel>("Label3")->text(), QStringLiteral("SURNAME"));
}

TEST_F(EntryEditing, RightClickDeletesAfterConfirmation) {
    ProgramWindows w({{"Anna", "Smith", "1", "", ""},
                      {"Anna", "Smith", "1", "", ""},
                      {"Bob", "Smith", "", "", ""},
                      {"Cy", "Smith", "", "", ""}});
    w.searchFor("");
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Warning, deleteQuestion("Bob", "Smith"), messages::Cancel);
        rightClick(w, 3);
        boxes.expect(Kind::Warning, deleteQuestion("Bob", "Smith"), messages::Cancel);
        rightClick(w, 3, Qt::Key_Menu);
        EXPECT_EQ(recordsOf(w.homeCard()).size(), 4);
        EXPECT_EQ(w.grid().currentRow(), 3);
    }
    {
        // Both identical entries go from the file and from the grid.
        ScriptedMessages boxes;
        boxes.expect(Kind::Warning, deleteQuestion("Anna", "Smith"), messages::Ok);
        rightClick(w, 2, Qt::Key_Delete);
    }
    EXPECT_EQ(recordsOf(w.homeCard()),
              (QList<Fields>{{"Bob", "Smith", "", "", ""}, {"Cy", "Smith", "", "", ""}}));
    EXPECT_EQ(w.grid().rowCount(), 3);
    EXPECT_EQ(w.grid().currentRow(), 1); // the entry that followed the clicked row
    EXPECT_EQ(w.grid().cell(0, 1), QStringLiteral("Bob"));
    {
        // Deleting the last row selects the new last row.
        ScriptedMessages boxes;
        boxes.expect(Kind::Warning, deleteQuestion("Cy", "Smith"), messages::Ok);
        rightClick(w, 2, Qt::ShiftModifier | Qt::Key_F10);
    }
    EXPECT_EQ(w.grid().rowCount(), 2);
    EXPECT_EQ(w.grid().currentRow(), 1);
}

TEST_F(EntryEditing, RightClickDoesNothingWithOneRowOrOutsideTheRows) {
    ProgramWindows w({{"Anna", "Smith", "", "", ""}, {"Bob", "Stone", "", "", ""}});
    ScriptedMessages boxes; // no box may appear
    w.searchFor("Smith");
    rightClick(w, 1);
    rightClick(w, 1, Qt::Key_Delete);
    w.searchFor("Q");
    rightClick(w, 1);
    rightClick(w, 1, Qt::Key_Menu);
    w.searchFor("");
    auto *view = w.search<QTableView>("StringGrid1");
    QTest::mousePress(view->viewport(), Qt::RightButton, {},
                      QPoint(5, view->viewport()->height() - 2));
    QTest::mousePress(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(1, 0)).center());
    EXPECT_EQ(recordsOf(w.homeCard()).size(), 2);
}

// The extra-text clean-up after a deletion.

struct CleanupCase {
    const char *name;
    QList<Fields> card;
    int rowToDelete;
    QByteArray extraFile; // the file name's bytes
    bool removed;
    QByteArray otherCard = testsupport::recordBytes({"Bob", "Other", "", "", ""});
};

const QList<Fields> AnnaBob = {{"Anna", "Smith", "", "", ""}, {"Bob", "X", "", "", ""}};

class ExtraTextCleanup : public EntryEditing, public ::testing::WithParamInterface<CleanupCase> {};

TEST_P(ExtraTextCleanup, RemovesTheFileOnlyWhenNoEntryKeepsIt) {
    const CleanupCase &c = GetParam();
    ProgramWindows w({{"Zz", "Zz", "", "", ""}});
    QByteArray card;
    for (const Fields &f : c.card)
        card += testsupport::recordBytes(f);
    w.dir().write("home.crd", card);
    w.dir().write("other.crd", c.otherCard);
    const QByteArray extraFile = w.dir().path().toUtf8() + c.extraFile; // Windows-1252 too
    std::ofstream(extraFile.constData()) << "{\\rtf1 note}";
    w.searchFor("");
    const auto cells = w.grid().rowCells(c.rowToDelete);
    ScriptedMessages boxes;
    boxes.expect(Kind::Warning, deleteQuestion(cells[0], cells[1]), messages::Ok);
    rightClick(w, c.rowToDelete);
    EXPECT_EQ(std::ifstream(extraFile.constData()).good(), !c.removed);
    EXPECT_TRUE(w.dir().exists("meridoc.ini"));
    EXPECT_TRUE(w.dir().exists("other.crd"));
}

INSTANTIATE_TEST_SUITE_P(
    EntryEditing, ExtraTextCleanup,
    ::testing::Values(
        // ANNA SMITH with other phones keeps AnnaSmith: keys are compared upper-cased.
        CleanupCase{"kept_by_other_case",
                    {{"ANNA", "SMITH", "9", "", ""}, {"Anna", "Smith", "", "", ""}},
                    2,
                    "AnnaSmith",
                    false},
        // Extra texts are shared by all card files: the same name in another one keeps it.
        // clang-format off
        CleanupCase{"other_card_file_keeps_it", AnnaBob, 1, "AnnaSmith", false,
                    testsupport::recordBytes({"ANNA", "SMITH", "", "", ""})},
        CleanupCase{"unreadable_card_file_keeps_it", AnnaBob, 1, "AnnaSmith", false, "partial"},
        CleanupCase{"no_other_entry_removes_it", AnnaBob, 1, "AnnaSmith", true},
        // The editor saves " AnnaSmith" untrimmed; the original platform wrote Windows-1252 names.
        CleanupCase{"untrimmed_name", {{" Anna", "Smith", "", "", ""}, AnnaBob[1]}, 1,
                    " AnnaSmith", true},
        CleanupCase{"cp1252_name", {{"Jos\xe9", "Smith ", "", "", ""}, AnnaBob[1]}, 1,
                    "jos\xe9smith ", true},
        // clang-format on
        // Found whatever its letter case.
        CleanupCase{"file_in_other_case",
                    {{"Anna", "Smith", "", "", ""}, {"Bob", "X", "", "", ""}},
                    1,
                    "annasmith",
                    true},
        // Jo Ann and Joa nn share one file.
        CleanupCase{"shared_by_joined_name",
                    {{"Jo", "Ann", "", "", ""}, {"Joa", "nn", "", "", ""}},
                    1,
                    "JoAnn",
                    false},
        // Names that reach the program's own files or outside the folder delete nothing.
        CleanupCase{"config_file",
                    {{"meridoc", ".ini", "", "", ""}, {"Bob", "X", "", "", ""}},
                    1,
                    "meridoc.ini",
                    false},
        CleanupCase{"card_file",
                    {{"other", ".crd", "", "", ""}, {"Bob", "X", "", "", ""}},
                    1,
                    "other.crd",
                    false},
        CleanupCase{"companion_tool",
                    {{"meridoc-", "cards", "", "", ""}, {"Bob", "X", "", "", ""}},
                    1,
                    "meridoc-cards",
                    false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ExtraTextNames, OnlyPlainNamesOfNoOwnFileAreExtraTextNames) {
    testsupport::TempProgramDir dir;
    dir.write("meridoc.ini", "[filenames]\r\nextention=abc\r\ndefaultfile=home\r\n");
    dir.write(
        ".meridoc-install-manifest",
        (dir.path() + "added-later.so\n/elsewhere/AnnaSmith\n" + dir.path() + "sub/x").toUtf8());
    const struct {
        QString name;
        bool ok;
    } cases[] = {{"AnnaSmith", true},
                 {"Jos\u00e9 Smith", true},
                 {"a.b", true},
                 {"", false},
                 {".", false},
                 {"..", false},
                 {"../x", false},
                 {"a/b", false},
                 {"MERIDOC.INI", false},
                 {"temp.tmp", false},
                 {"ReadMe.txt", false},
                 {"meridoc", false},
                 {"txtview.exe", false},
                 {"home.abc", false},
                 {"x.CRD", false},
                 {"meridoc-help.txt", false},
                 {"Meridoc-Cards", false},
                 {"meridoc-cards.1", false},
                 {"ADDED-LATER.SO", false},
                 {"x", true}};
    // Card files of the configured extension stay protected when start-up fell back to TANRO.
    for (const char *current : {"HOME.ABC", "TANRO.CRD"}) {
        dir.useCardFile(QString(current).section('.', 0, 0), QString(current).section('.', 1));
        for (const auto &c : cases)
            EXPECT_EQ(IsExtraTextName(c.name), c.ok) << c.name.toStdString() << " " << current;
    }
    EXPECT_EQ(ViewerExtraTextName(" Anna", "Smith "), QStringLiteral("AnnaSmith"));
    EXPECT_EQ(EditorExtraTextName(" Anna", "Smith "), QStringLiteral(" AnnaSmith "));
    EXPECT_EQ(ExtraTextKey(" Anna", "smith "), QByteArray("ANNASMITH"));
}

TEST(ExtraTextNames, TheViewerFindsUntrimmedAndWindows1252Names) {
    const struct {
        QList<QByteArray> files; // each holds its own index as text
        QString name;
        int found; // the index of the file shown, -1 for none
    } cases[] = {
        {{" annasmith", "AnnaSmith"}, "AnnaSmith", 1},
        {{" AnnaSmith", "annasmith"}, "AnnaSmith", 1},
        {{"x", " AnnaSmith\t"}, "AnnaSmith", 1},
        {{"Anna Smith", "AnnaSmithX"}, "AnnaSmith", -1},
        {{"Jos\xe9Smith", " Jos\xc3\xa9Smith"}, "Jos\u00e9Smith", 1},
        {{"JOS\xc9SMITH", " jos\xe9smith"}, "Jos\u00c9Smith", 0},
        {{" jos\xe9smith"}, "Jos\u00e9Smith", 0},
        {{"x.crd", " x.CRD"}, "x.crd", -1},
    };
    for (const auto &c : cases) {
        testsupport::TempProgramDir dir;
        dir.useCardFile("HOME");
        const QByteArray base = dir.path().toUtf8();
        for (int i = 0; i < c.files.size(); ++i)
            std::ofstream((base + c.files[i]).constData()) << i;
        const QByteArray path = FindExtraText(c.name);
        EXPECT_EQ(path, c.found < 0 ? QByteArray() : base + c.files[c.found]) << c.found;
        if (c.found >= 0) {
            QTextDocument doc;
            LoadExtraTextFile(path, doc);
            EXPECT_EQ(doc.toPlainText(), QString::number(c.found));
        }
    }
}
