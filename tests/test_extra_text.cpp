#include "data/rtf.h"
#include "support/scripted_messages.h"
#include "support/windows.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QWindow>
#include <gtest/gtest.h>

using namespace meridoc;
using messages::Kind;
using testsupport::Fields;
using testsupport::ProgramWindows;
using testsupport::ScriptedMessages;

namespace {

const QString SaveQuestion =
    QStringLiteral("This action will save text changes and exit text-edit, OK?");
const QString CancelQuestion = QStringLiteral("Unsaved changes will be lost, OK?");

QString noExtraInfo(const QString &name) {
    return QStringLiteral("No ekstra info found for ") + name +
           QStringLiteral(" . Create extra info in \"EDIT\" / \"ADD EXTRA TEXT\"  ");
}

QString plainTextOf(const QByteArray &rtfBytes) {
    QTextDocument doc;
    rtf::read(rtfBytes, doc);
    return doc.toPlainText();
}

class ExtraText : public ::testing::Test {
protected:
    ProgramWindows w{{{"Anna", "Smith", "1", "", ""},
                      {"Anna", "Smith", "2", "", ""},
                      {"Bob", "Stone", "", "", ""}}};

    QTextEdit *viewer() { return w.search<QTextEdit>("RichEdit1"); }
    QTextEdit *editor() { return w.search<QTextEdit>("RichEdit2"); }

    // A double click as the window system delivers it: a press, then the double click.
    void doubleClick(QWidget *on, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QWindow *window = on->window()->windowHandle();
        QTest::mouseDClick(window, button, {}, window->mapFromGlobal(on->mapToGlobal(at)));
        QCoreApplication::processEvents();
    }
    void doubleClickRow(int row) {
        auto *view = w.search<QTableView>("StringGrid1");
        doubleClick(view->viewport(), view->visualRect(view->model()->index(row - 1, 1)).center());
    }
    void openEditor(int row) {
        w.grid().setCurrentRow(row);
        w.click2("Button3");
        w.click2("Button5");
    }
};

} // namespace

TEST_F(ExtraText, DoubleClickWithoutAFileSaysSo) {
    w.searchFor("");
    ScriptedMessages boxes;
    boxes.expect(Kind::Information, noExtraInfo("AnnaSmith"), messages::Ok, messages::Ok);
    doubleClickRow(1);
    EXPECT_TRUE(viewer()->isHidden());
    EXPECT_TRUE(w.search("StringGrid1")->isVisible());
}

TEST_F(ExtraText, DoubleClickOnTheNoMatchRowDoesNothing) {
    w.searchFor("QQ");
    ScriptedMessages boxes;
    doubleClickRow(1);
    EXPECT_TRUE(viewer()->isHidden());
}

TEST_F(ExtraText, ThePlaceholderSavedUnchangedIsShownLater) {
    w.searchFor("");
    openEditor(1);
    EXPECT_TRUE(w.search("GroupBox2")->isVisible());
    EXPECT_TRUE(w.search("GroupBox1")->isHidden());
    editor()->setFocus();
    QTest::keyClick(editor(), Qt::Key_Tab); // the editor hands Tab on
    EXPECT_EQ(w.form2().focusWidget(), w.search("Button6"));
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("Put extra text here"));
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, SaveQuestion, messages::Yes, messages::Yes | messages::No);
        w.click2("Button6");
    }
    EXPECT_TRUE(w.search("GroupBox2")->isHidden());
    EXPECT_TRUE(w.search("GroupBox1")->isVisible());
    const QByteArray saved = w.dir().read("AnnaSmith");
    EXPECT_TRUE(saved.startsWith("{\\rtf1"));
    EXPECT_EQ(plainTextOf(saved), QStringLiteral("Put extra text here"));

    w.click2("Button9");
    doubleClickRow(1);
    EXPECT_TRUE(viewer()->isVisible());
    EXPECT_TRUE(viewer()->isReadOnly());
    EXPECT_EQ(viewer()->toPlainText(), QStringLiteral("Put extra text here"));
    EXPECT_TRUE(w.search("Button2")->isVisible());
    for (const char *hidden : {"StringGrid1", "Button1", "Button3", "Button8", "Label1"})
        EXPECT_TRUE(w.search(hidden)->isHidden()) << hidden;
    EXPECT_EQ(w.form2().width(), 380);

    // The viewer takes no typing. It keeps Tab; Ctrl+Tab leaves it.
    viewer()->setFocus();
    QTest::keyClicks(viewer(), "typed");
    EXPECT_EQ(viewer()->toPlainText(), QStringLiteral("Put extra text here"));
    QTest::keyClick(viewer(), Qt::Key_Tab);
    EXPECT_EQ(w.form2().focusWidget(), viewer());
    QTest::keyClick(viewer(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(w.form2().focusWidget(), w.search("Button2"));

    w.click2("Button2"); // CLOSE TEXT
    EXPECT_TRUE(viewer()->isHidden());
    EXPECT_EQ(w.form2().width(), 570);
    EXPECT_TRUE(w.search("StringGrid1")->isVisible());
}

TEST_F(ExtraText, AnsweringNoChangesNothing) {
    w.searchFor("");
    openEditor(1);
    editor()->setPlainText("first");
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, SaveQuestion, messages::Yes);
        w.click2("Button6");
    }
    w.click2("Button5");
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("first")); // reloaded from the file
    editor()->selectAll();
    QTest::keyClicks(editor(), "second");
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, SaveQuestion, messages::No);
        boxes.expect(Kind::Information, CancelQuestion, messages::No, messages::Yes | messages::No);
        boxes.expect(Kind::Information, CancelQuestion, messages::No);
        w.click2("Button6");
        w.click2("Button7");
        EXPECT_FALSE(w.form2().close()); // closing the window asks the same
    }
    EXPECT_TRUE(w.search("GroupBox2")->isVisible());
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("second"));
    EXPECT_EQ(plainTextOf(w.dir().read("AnnaSmith")), QStringLiteral("first"));
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, CancelQuestion, messages::Yes);
        w.click2("Button7");
    }
    EXPECT_TRUE(w.search("GroupBox1")->isVisible());
    EXPECT_EQ(plainTextOf(w.dir().read("AnnaSmith")), QStringLiteral("first"));
    w.click2("Button5");
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("first"));
}

TEST_F(ExtraText, EntriesWithTheSameNameShareTheirText) {
    w.searchFor("");
    openEditor(2);
    editor()->setPlainText("shared");
    ScriptedMessages boxes;
    boxes.expect(Kind::Information, SaveQuestion, messages::Yes);
    w.click2("Button6");
    w.click2("Button9");
    w.grid().setCurrentRow(1);
    w.form2().StringGrid1DblClick();
    EXPECT_EQ(viewer()->toPlainText(), QStringLiteral("shared"));
    EXPECT_EQ(w.dir().entries().filter("Smith", Qt::CaseInsensitive), QStringList{"AnnaSmith"});
}

TEST_F(ExtraText, TheEditorOpensTheNoteTheViewerShowsUnderAnOlderSpelling) {
    w.dir().write("AnnaSmith ", "older spelling");
    w.searchFor("");
    openEditor(1);
    EXPECT_EQ(editor()->toPlainText(), QStringLiteral("older spelling"));
}

TEST_F(ExtraText, AFileWrittenByAWordProcessorShowsItsText) {
    QFile fixture(QStringLiteral(MERIDOC_FIXTURES "/rtf/lo_formatting.rtf"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    w.dir().write("annasmith", fixture.readAll()); // any letter case is found
    w.searchFor("");
    w.grid().setCurrentRow(1);
    w.form2().StringGrid1DblClick();
    EXPECT_TRUE(viewer()->toPlainText().startsWith("Plain bold italic underlined"));
}

TEST_F(ExtraText, NamesThatReachProgramFilesHaveNoExtraText) {
    ProgramWindows own({{"meridoc", ".ini", "", "", ""}, {"x", "y", "", "", ""}});
    const QByteArray ini = own.dir().read("meridoc.ini");
    own.searchFor("");
    own.grid().setCurrentRow(1);
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, noExtraInfo("meridoc.ini"), messages::Ok);
        own.form2().StringGrid1DblClick();
    }
    own.click2("Button3");
    own.click2("Button5");
    EXPECT_EQ(own.search<QTextEdit>("RichEdit2")->toPlainText(),
              QStringLiteral("Put extra text here"));
    {
        ScriptedMessages boxes;
        boxes.expect(Kind::Information, SaveQuestion, messages::Yes);
        boxes.expectError(QStringLiteral("Cannot create file %1meridoc.ini").arg(own.dir().path()));
        own.click2("Button6");
    }
    EXPECT_EQ(own.dir().read("meridoc.ini"), ini);
    EXPECT_TRUE(own.search("GroupBox2")->isVisible()); // the editor stays open
}

TEST_F(ExtraText, ADoubleClickOpensTheViewerOnlyWhenItBeganOnTheGrid) {
    w.dir().write("AnnaSmith", "note");
    w.searchFor("");
    ScriptedMessages boxes;
    auto *view = w.search<QTableView>("StringGrid1");
    const QRect cell = view->visualRect(view->model()->index(0, 4));
    doubleClick(view->viewport(), {cell.right() + 4, cell.top()}, Qt::RightButton);
    // The grid gets the double click alone when its first press hit a button that then vanished.
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(viewer()->isHidden());
    doubleClick(view->horizontalHeader()->viewport(), {20, 10}); // the selected row counts
    EXPECT_TRUE(viewer()->isVisible());

    // A text that cannot be loaded leaves the results on screen.
    w.click2("Button2");
    QFile big(w.dir().file("AnnaSmith"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(64 * 1024 * 1024 + 1));
    boxes.expectError("Failed to Load Stream");
    doubleClickRow(1);
    EXPECT_TRUE(w.search("Button8")->isVisible());
    // ... and keeps the editor closed, so its placeholder can never be saved over the file.
    boxes.expectError("Failed to Load Stream");
    openEditor(1);
    EXPECT_TRUE(w.search("GroupBox2")->isHidden());
    EXPECT_EQ(QFileInfo(big).size(), 64 * 1024 * 1024 + 1);
}
