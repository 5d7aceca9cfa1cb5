#include "app/letter_pad_look.h"
#include "data/search.h"
#include "support/scripted_messages.h"
#include "support/windows.h"

#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace meridoc;
using testsupport::Fields;
using testsupport::ProgramWindows;
using testsupport::ScriptedMessages;

namespace {

struct MatchCase {
    const char *search;
    bool byName;
    QByteArray name;
    QByteArray surname;
    bool matches;
};

class SearchMatching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(SearchMatching, IsALeadingPrefixMatchIgnoringAsciiCase) {
    const MatchCase &c = GetParam();
    const EntryRecord r = EntryRecord::fromFields({c.name, c.surname, "", "", ""});
    EXPECT_EQ(Matches(r, MakeSearchCriteria(QString::fromLatin1(c.search), c.byName)), c.matches)
        << c.search << " / " << c.name.constData() << " " << c.surname.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Search, SearchMatching,
    ::testing::Values(
        MatchCase{"MA", false, "x", "MARTIN", true}, MatchCase{"MA", false, "x", "martinez", true},
        MatchCase{"MA", false, "x", "MA", true}, MatchCase{"MA", false, "x", "MAY-BE", true},
        MatchCase{"MA", false, "x", "M A", false}, MatchCase{"MA", false, "x", "MCMA", false},
        MatchCase{"MA", false, "x", " MARTIN", false}, // a leading blank never matches
        MatchCase{"M", false, "x", "M", true},
        MatchCase{"ma ", false, "x", "Mars", true}, // the search text is trimmed
        MatchCase{"MAR", false, "x", "MA", false},  // shorter than the search text
        MatchCase{"", false, "x", "", true},        // empty lists everything
        MatchCase{"  ", false, "x", "anything", true},
        MatchCase{"AN", true, "Anna", "Zed", true}, // by name
        MatchCase{"AN", true, "Zed", "Anna", false},
        MatchCase{"\xc9", false, "x", "\xe9tienne", false})); // only a-z fold

const std::initializer_list<Fields> People = {
    {"Zoe", "ADAMS", "1", "", ""},    {"Anna", "MA", "2", "", ""},
    {"Bob", "MARTIN", "3", "", ""},   {"Al", "martinez", "4", "", ""},
    {"Max", "MAY-BE", "5", "", ""},   {"Mia", "MCMA", "6", "", ""},
    {"Ann", "SMITH", "7", " x ", ""}, {"Anton", "ZULU", "8", "", ""}};

QStringList column(const QList<QStringList> &rows, int c) {
    QStringList out;
    for (const QStringList &r : rows)
        out.append(r[c]);
    return out;
}

} // namespace

TEST(SearchWindow, StartSearchListsTheMatchesInCardFileOrder) {
    ProgramWindows w(People);
    w.searchFor("ma");
    EXPECT_TRUE(w.form2().isVisible());
    EXPECT_FALSE(w.form1().isVisible());
    EXPECT_EQ(column(w.resultRows(), 1), (QStringList{"MA", "MARTIN", "martinez", "MAY-BE"}));
    EXPECT_EQ(w.grid().currentRow(), 1);
    EXPECT_EQ(w.grid().rowCells(0)[4], QStringLiteral("COMMENTS"));
    for (const char *name : {"StringGrid1", "Button1", "Button8", "Button3", "Label1"})
        EXPECT_TRUE(w.search(name)->isVisible()) << name;
    // The letter pad is hidden and keeps its text.
    EXPECT_TRUE(w.main("StringGrid1")->isHidden());
    EXPECT_EQ(w.main<QLineEdit>("Edit1")->text(), QStringLiteral("ma"));
}

TEST(SearchWindow, ByNameStillListsInSurnameOrder) {
    ProgramWindows w(People);
    w.searchFor("AN", true);
    EXPECT_EQ(column(w.resultRows(), 0), (QStringList{"Anna", "Ann", "Anton"}));
}

TEST(SearchWindow, CellsHoldTheFieldsExactlyAsStored) {
    ProgramWindows w(People);
    w.searchFor("SMITH");
    EXPECT_EQ(w.resultRows(), (QList<QStringList>{{"Ann", "SMITH", "7", " x ", ""}}));
}

TEST(SearchWindow, NoMatchGivesTheHeaderAndTheNoMatchRow) {
    for (auto card : {std::initializer_list<Fields>{}, People}) {
        ProgramWindows w(card);
        w.searchFor("QQ");
        EXPECT_EQ(w.grid().rowCount(), 2);
        EXPECT_EQ(w.resultRows(),
                  (QList<QStringList>{{"", "", "", "", "No matching entries found."}}));
    }
}

TEST(SearchWindow, AnEmptySearchListsEveryEntry) {
    ProgramWindows w(People);
    w.searchFor("");
    EXPECT_EQ(w.resultRows().size(), 8);
}

TEST(SearchWindow, BackAndCloseBringTheMainWindowBack) {
    ProgramWindows w(People);
    w.searchFor("M");
    w.click2("Button8");
    EXPECT_FALSE(w.form2().isVisible());
    EXPECT_TRUE(w.form1().isVisible());
    EXPECT_TRUE(w.main("StringGrid1")->isHidden()); // the pad stays hidden

    w.searchFor("M", true);
    w.form2().close();
    EXPECT_TRUE(w.form1().isVisible());
    EXPECT_EQ(w.form2().width(), 578);

    // The next SEARCH/EDIT starts empty with the last choice kept.
    w.trigger("SEARCH");
    EXPECT_TRUE(w.main<QLineEdit>("Edit1")->text().isEmpty());
    EXPECT_TRUE(w.main<QRadioButton>("RadioButton1")->isChecked());
    w.click1("Button7");
    w.trigger("SEARCH");
    EXPECT_TRUE(w.main<QRadioButton>("RadioButton1")->isChecked());
}

TEST(SearchWindow, RunSearchPastTheLastRowSelectsTheLastRow) {
    ProgramWindows w(People);
    w.searchFor("MA");
    w.form2().RunSearch(99);
    EXPECT_EQ(w.grid().currentRow(), 4);
    w.form2().RunSearch(3);
    EXPECT_EQ(w.grid().currentRow(), 3);
}

TEST(SearchWindow, ACardFileErrorStopsTheSearchButKeepsWhatWasFound) {
    ProgramWindows w(People);
    QByteArray bytes = w.homeCard();
    w.dir().write("home.crd", bytes + "partial");
    ScriptedMessages boxes;
    boxes.expectError("Read beyond end of file");
    w.searchFor("");
    EXPECT_TRUE(w.form2().isVisible());
    EXPECT_FALSE(w.form1().isVisible());
    EXPECT_EQ(w.resultRows().size(), 8);
    EXPECT_TRUE(w.search("Button8")->isVisible());
}

TEST(SearchWindow, AMissingOrReadOnlyCardFileIsReported) {
    ProgramWindows w(People);
    w.dir().makeReadOnly("home.crd");
    {
        ScriptedMessages boxes;
        boxes.expectError("File access denied");
        w.searchFor("");
    }
    w.click2("Button8");
    ::unlink(QFile::encodeName(w.dir().file("home.crd")).constData());
    ScriptedMessages boxes;
    boxes.expectError("File not found");
    w.searchFor("");
    EXPECT_EQ(w.resultRows(), (QList<QStringList>{{"", "", "", "", "No matching entries found."}}));
}

TEST(SearchWindow, MaximizeAndMinimizeAreUndone) {
    ProgramWindows w(People);
    w.searchFor("");
    for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowMinimized}) {
        w.form2().setWindowState(state);
        QTest::qWait(20);
        EXPECT_EQ(w.form2().windowState(), Qt::WindowNoState);
    }
}

TEST(SearchWindow, GridLayout) {
    ProgramWindows w(People);
    w.searchFor("");
    auto *view = w.search<QTableView>("StringGrid1");
    const int widths[] = {85, 87, 88, 90, 170};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(view->columnWidth(c), widths[c]);
    EXPECT_EQ(view->rowHeight(0), 24);
    EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(view->tabKeyNavigation()); // Tab leaves the grid instead of walking its cells
    EXPECT_EQ(w.form2().windowTitle(), QStringLiteral("MERIDOC SEARCH/EDIT"));
}

// The letter pad

TEST(LetterPad, HoldsAToMAboveNToZ) {
    ProgramWindows w;
    w.trigger("SEARCH");
    auto *pad = w.main<QTableWidget>("StringGrid1");
    QString top, bottom;
    for (int j = 0; j < 13; ++j) {
        top += pad->item(0, j)->text();
        bottom += pad->item(1, j)->text();
    }
    EXPECT_EQ(top, QStringLiteral("ABCDEFGHIJKLM"));
    EXPECT_EQ(bottom, QStringLiteral("NOPQRSTUVWXYZ"));
    // Silver in the window's font under the usual palette; legible letters under a dark one.
    EXPECT_EQ(pad->palette().color(QPalette::Base), QColor(Qt::lightGray));
    EXPECT_EQ(pad->font(), w.form1().font());
    QPalette dark(Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        dark.setColor(role, Qt::white);
    w.form1().setPalette(dark);
    const QPalette &shown = pad->palette();
    EXPECT_GE(contrastRatio(shown.color(QPalette::Base), shown.color(QPalette::Text)), 4.5);
}

TEST(LetterPad, ClicksAppendLettersUpToSixteen) {
    ProgramWindows w;
    w.trigger("SEARCH");
    auto *pad = w.main<QTableWidget>("StringGrid1");
    auto *edit = w.main<QLineEdit>("Edit1");
    const auto clickCell = [&](int row, int col) {
        const QRect r = pad->visualRect(pad->model()->index(row, col));
        QTest::mouseClick(pad->viewport(), Qt::LeftButton, {}, r.center());
    };
    clickCell(0, 12);
    clickCell(0, 12);
    clickCell(1, 0);
    EXPECT_EQ(edit->text(), QStringLiteral("MMN"));
    for (int i = 0; i < 14; ++i)
        clickCell(0, 0);
    EXPECT_EQ(edit->text().size(), 16);
    clickCell(0, 1);
    EXPECT_EQ(edit->text(), QStringLiteral("MMN") + QString(13, 'A'));

    // 15 typed characters and one click make 16; typing stops at 16 as well.
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("abcdefghijklmnopqrs"));
    EXPECT_EQ(edit->text(), QStringLiteral("abcdefghijklmnop"));
    edit->setText(QString(15, 'x'));
    clickCell(1, 1);
    clickCell(1, 1);
    EXPECT_EQ(edit->text(), QString(15, 'x') + "O");
}

TEST(LetterPad, ClearLastCharacterTrimsFirst) {
    ProgramWindows w;
    w.trigger("SEARCH");
    auto *edit = w.main<QLineEdit>("Edit1");
    const struct {
        QString before, after;
    } cases[] = {{" AB ", "A"}, {"", ""}, {"   ", ""}, {"X", ""}, {"MAR", "MA"}};
    for (const auto &c : cases) {
        edit->setText(c.before);
        w.click1("Button2");
        EXPECT_EQ(edit->text(), c.after) << c.before.toStdString();
    }
    edit->setText("ABC");
    w.click1("Button8");
    EXPECT_TRUE(edit->text().isEmpty());
}
