// The windows walked through their states by menu, buttons, keyboard and mouse. In every state
// each caption on screen fits its control: labels, buttons, radio buttons and group-box titles,
// measured with the font and style they are drawn with.
#include "support/windows.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The width a control gives its caption, or -1 for a control without one.
int captionRoom(const QWidget *w) {
    if (const auto *label = qobject_cast<const QLabel *>(w))
        return label->contentsRect().width();
    QRect room;
    if (const auto *button = qobject_cast<const QAbstractButton *>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        room = w->style()->subElementRect(qobject_cast<const QRadioButton *>(w)
                                              ? QStyle::SE_RadioButtonContents
                                              : QStyle::SE_PushButtonContents,
                                          &option, w);
    } else if (const auto *group = qobject_cast<const QGroupBox *>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        room =
            w->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, w);
    } else {
        return -1;
    }
    return room.intersected(w->rect()).width();
}

// The focused control's line at its caret as a screen reader reads it: it asks for the text
// attributes run at each offset of the line, joins the runs and reads the line up to their end.
QString spokenLine(QWidget *control) {
    QAccessibleInterface *box = QAccessible::queryAccessibleInterface(control);
    QAccessibleTextInterface *text = box ? box->textInterface() : nullptr;
    if (!text)
        return QStringLiteral("<no text>");
    int start = 0, end = 0, runsEnd = 0;
    text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end);
    for (int offset = start; offset < end; offset = std::max(runsEnd, offset + 1)) {
        int runStart = 0;
        text->attributes(offset, &runStart, &runsEnd);
    }
    return text->text(start, std::min(end, runsEnd)).trimmed();
}

// A row is "<name>: <steps> | <what to read> <expected>". Steps: a main-window menu command,
// "find=<text>" for a search, a search-window button, "dblclick" on the selected result, "about",
// and the keyboard and mouse: "type:<text>", "key:<key>" to the focused control,
// "focus:<control>", "click:<control>" into the blanks after a four-letter name, "dclick:<pad
// column>". What is read afterwards: a main-window line edit's shown text, the menu bar's active
// item ("menu"), the focused control ("focus"), the focused control's line a screen reader reads
// ("spoken") or the number of visible main-window controls.
// Wherever a row ends, every visible caption of the window on screen must fit its control.
class WindowWalk : public ::testing::TestWithParam<const char *> {};

TEST_P(WindowWalk, CaptionsFitAndInputReachesTheRightControl) {
    testsupport::ProgramWindows w{{{"Anna", "Smith", "(000)555-0199", "", "a friend"}}};
    w.dir().write("AnnaSmith", "{\\rtf1 Met at the station.\\par Likes tea.\\par Call after six.}");
    TForm3 about(&w.form1());
    QApplication::setActiveWindow(&w.form1());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form1()));
    const auto focused = [&] {
        return QApplication::focusWidget() ? QApplication::focusWidget() : &w.form1();
    };
    const QString row = QString::fromUtf8(GetParam()).section(':', 1);
    auto *pad = w.main<QTableWidget>("StringGrid1");
    for (const QString &step : row.section('|', 0, 0).split(' ', Qt::SkipEmptyParts)) {
        const QString arg = step.section(QRegularExpression("[:=]"), 1);
        const QKeyCombination key =
            arg == "Alt" ? QKeyCombination(Qt::AltModifier, Qt::Key_Alt) : QKeySequence(arg)[0];
        const QPoint cell = pad->visualRect(pad->model()->index(0, arg.toInt())).center();
        if (step.startsWith("find="))
            w.searchFor(arg);
        else if (step == "dblclick")
            w.form2().StringGrid1DblClick();
        else if (step == "about")
            about.show();
        else if (step.startsWith("key:"))
            QTest::keyClick(focused(), key.key(), key.keyboardModifiers());
        else if (step.startsWith("focus:"))
            w.main(arg.toLatin1())->setFocus();
        else if (step.startsWith("click:"))
            QTest::mouseClick(w.main(arg.toLatin1()), Qt::LeftButton, {}, QPoint(70, 10));
        else if (step.startsWith("dclick:")) { // a click, then the double click of its second press
            QTest::mouseClick(pad->viewport(), Qt::LeftButton, {}, cell);
            QTest::mouseDClick(pad->viewport(), Qt::LeftButton, {}, cell);
        } else if (auto *button = w.search<QPushButton>(step.toLatin1()))
            button->click();
        for (const QChar c : step.startsWith("type:") ? arg : QString()) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(focused(), &press);
        }
        if (!step.contains(QRegularExpression("[:=]")) && w.form1().findChild<QAction *>(step))
            w.trigger(step.toLatin1());
        QCoreApplication::processEvents(); // a caption changed on screen is fitted next turn
    }
    QWidget *window = about.isVisible()       ? &about
                      : w.form2().isVisible() ? static_cast<QWidget *>(&w.form2())
                                              : &w.form1();
    QStringList clipped;
    for (const QWidget *c : window->findChildren<QWidget *>()) {
        const QString caption = c->property(c->inherits("QGroupBox") ? "title" : "text").toString();
        const int needed = c->fontMetrics().horizontalAdvance(QString(caption).replace("&&", "&"));
        if (c->isVisible() && captionRoom(c) >= 0 && needed > captionRoom(c))
            clipped << c->objectName() + " \"" + caption + "\" needs " + QString::number(needed);
    }
    EXPECT_TRUE(clipped.isEmpty()) << clipped.join("; ").toStdString();

    const QString read = row.section('|', 1).trimmed().section(' ', 0, 0);
    const QAction *active = w.form1().menuBar()->activeAction();
    const QList<QWidget *> controls =
        w.form1().centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    const QString actual =
        read.isEmpty()      ? QString()
        : read == "menu"    ? (active ? active->text() : QString())
        : read == "focus"   ? focused()->objectName()
        : read == "spoken"  ? spokenLine(focused())
        : read == "visible" ? QString::number(std::count_if(controls.begin(), controls.end(),
                                                            [](auto *c) { return c->isVisible(); }))
                            : w.main<QLineEdit>(read.toLatin1())->displayText();
    EXPECT_EQ(actual.toStdString(), row.section('|', 1).trimmed().section(' ', 1).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowWalk,
    ::testing::Values(
        "MainAtStart:", "LetterPad: SEARCH", "FileNew: NEW1", "FileOpen: OPEN1",
        "FileSaveAs: SAVEAS1", "FileRename: RENAME1", "FileDelete: DELETE1",
        "TitleChangedOnScreen: NEW1 DELETE1", "Results: find=", "NoMatch: find=ZZZ",
        "EditMode: find=S Button3", "AddMode: Newrecord1", "Viewer: find=S dblclick",
        "Editor: find=S Button3 Button5", "About: about",
        // The name box has the focus with the last name selected: typing replaces it.
        "TypingReplacesTheLastName: NEW1 type:home RENAME1 type:office | MaskEdit2 office______",
        "ClickInTheBlanksTypesAfterTheName: NEW1 type:home click:MaskEdit2 type:x | "
        "MaskEdit2 homex_______",
        "DeletedLetterLeavesNoGap: NEW1 type:home key:Home key:Right key:Del | MaskEdit2 "
        "hme_________",
        "OnlyLettersAndDigitsOfWindows1252: NEW1 type:a\u0436\u00e9\u00bd\u00b2_1\u0160 | "
        "MaskEdit2 a\u00e91\u0160________",
        "EachClickOfADoubleClickAppends: SEARCH dclick:2 | Edit1 CC",
        "TabLeavesTheLetterPad: SEARCH focus:StringGrid1 key:Tab | focus Button2",
        "AltOpensTheMenuBar: key:Alt | menu FILE", "F10OpensTheMenuBar: key:F10 | menu FILE",
        "ArrowsAndEnterRunACommand: key:F10 key:Right key:Right key:Return | visible 11",
        "EnterPressesTheFocusedButton: OPEN1 focus:Button5 key:Return | visible 1",
        "KeypadEnterPressesTheFocusedButton: SEARCH focus:Edit1 type:AB focus:Button8 "
        "key:Num+Enter | Edit1",
        // Keys for what the mouse does, where the focus goes, and the order Tab takes.
        "TheWindowHasTheFocusAtStart: | focus TForm1",
        "ThePadFocusesTheSearchBox: SEARCH | focus Edit1",
        "EnterOrSpaceOnThePadAddsTheLetter: SEARCH focus:StringGrid1 key:Return key:Right "
        "key:Space | Edit1 AB",
        "TabFromTheSearchBoxReachesBySurname: SEARCH key:Tab | focus RadioButton2",
        "EscapePressesThePadCancel: SEARCH type:AB key:Escape | Edit1",
        "AHiddenPadLeavesTheFocusOnTheWindow: SEARCH focus:Button7 key:Return | focus TForm1",
        "EscapePressesTheFileCancel: NEW1 key:Escape | focus TForm1",
        "EnterInTheNameBoxPressesOk: RENAME1 key:Return | visible 1",
        "EnterInTheSearchBoxStartsTheSearch: SEARCH key:Return | focus StringGrid1",
        "TabGoesFromTheResultsToPrint: find= key:Tab | focus Button1",
        "TabGoesFromPrintToEdit: find= key:Tab key:Tab | focus Button3",
        "EnterOnAResultShowsItsExtraText: find= key:Return | focus RichEdit1",
        "EscapeClosesTheViewer: find= key:Return key:Escape | focus Button1",
        "TabReachesDoneBeforeExtraText: find= Button3 key:Tab key:Tab key:Tab | focus Button4",
        "TabReachesExtraTextAfterDone: find= Button3 key:Tab key:Tab key:Tab key:Tab | focus "
        "Button5",
        "TheEditorTakesTheFocus: find= Button3 Button5 | focus RichEdit2",
        "EscapeLeavesTheEntryForm: find= Button3 key:Escape | focus Button8",
        "AboutStartsOnBack: about | focus Button1",
        "TabGoesFromBackToTheText: about key:Tab | focus Memo1",
        // What a screen reader reads: a box's whole value, a read-only text line by line.
        "ThePhoneIsReadWhole: find= Button3 | spoken (000)555-0199",
        "TheNameBoxIsReadWithItsNameSelected: NEW1 type:home RENAME1 | spoken home",
        "TheViewerReadsItsThirdLine: find= key:Return key:Down key:Down | spoken Call after six.",
        "TheSearchBoxIsReadAfterAnEdit: SEARCH type:AB key:Backspace | spoken A"),
    [](const auto &info) { return QString(info.param).section(':', 0, 0).toStdString(); });

} // namespace
