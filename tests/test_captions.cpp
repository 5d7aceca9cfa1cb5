// Every caption on screen fits its control, in every state of every window: labels, buttons,
// radio buttons and group-box titles, measured with the font and style they are drawn with.
#include "support/windows.h"

#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <gtest/gtest.h>

using testsupport::ProgramWindows;

namespace {

// The caption as drawn: "&&" shows one "&".
QString shown(QString caption) {
    return caption.replace(QStringLiteral("&&"), QStringLiteral("&"));
}

// "<name> "<caption>" needs N, has M" for each visible caption that does not fit.
QStringList clippedCaptions(const QWidget &window) {
    QStringList clipped;
    const auto check = [&](const QWidget *w, const QString &caption, int available) {
        const int needed = w->fontMetrics().horizontalAdvance(shown(caption));
        if (needed > available)
            clipped.append(QStringLiteral("%1 \"%2\" needs %3, has %4")
                               .arg(w->objectName(), caption)
                               .arg(needed)
                               .arg(available));
    };
    for (const QWidget *w : window.findChildren<QWidget *>()) {
        if (!w->isVisible())
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(w)) {
            check(label, label->text(), label->contentsRect().width());
        } else if (const auto *button = qobject_cast<const QAbstractButton *>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const bool radio = qobject_cast<const QRadioButton *>(w) != nullptr;
            const QRect text = button->style()->subElementRect(
                radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option,
                button);
            check(button, button->text(), text.intersected(button->rect()).width());
        } else if (const auto *group = qobject_cast<const QGroupBox *>(w)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.textAlignment = group->alignment();
            option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            check(group, group->title(), title.intersected(group->rect()).width());
        }
    }
    return clipped;
}

// A state is reached by steps: a main-window menu command by its name, "find:<text>" for a
// search, a search-window button by its name, "dblclick" on the selected result, "about".
struct WindowState {
    const char *name;
    QStringList steps;
};

void PrintTo(const WindowState &state, std::ostream *out) {
    *out << state.name;
}

class Captions : public ::testing::TestWithParam<WindowState> {};

TEST_P(Captions, EveryVisibleCaptionFitsItsControl) {
    ProgramWindows w{
        {{"Anna", "Smith", "(000)555-0199", "", "a friend"}, {"Bob", "Stone", "", "", ""}}};
    w.dir().write("AnnaSmith", "{\\rtf1 Met at the station.}");
    TForm3 about(&w.form1());
    for (const QString &step : GetParam().steps) {
        if (step.startsWith("find:"))
            w.searchFor(step.mid(5));
        else if (step == "dblclick")
            w.form2().StringGrid1DblClick();
        else if (step == "about")
            about.show();
        else if (auto *button = w.search<QPushButton>(step.toLatin1()))
            button->click();
        else
            w.trigger(step.toLatin1());
        QCoreApplication::processEvents(); // captions changed on screen are fitted next turn
    }
    const QWidget *window = about.isVisible()       ? static_cast<QWidget *>(&about)
                            : w.form2().isVisible() ? static_cast<QWidget *>(&w.form2())
                                                    : &w.form1();
    EXPECT_EQ(clippedCaptions(*window), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Windows, Captions,
    ::testing::Values(
        WindowState{"MainAtStart", {}}, WindowState{"LetterPad", {"SEARCH"}},
        WindowState{"FileNew", {"NEW1"}}, WindowState{"FileOpen", {"OPEN1"}},
        WindowState{"FileSaveAs", {"SAVEAS1"}}, WindowState{"FileRename", {"RENAME1"}},
        WindowState{"FileDelete", {"DELETE1"}},
        // The title changes while it is on screen.
        WindowState{"FileNewThenDelete", {"NEW1", "DELETE1"}}, WindowState{"Results", {"find:"}},
        WindowState{"NoMatch", {"find:ZZZ"}}, WindowState{"EditMode", {"find:S", "Button3"}},
        WindowState{"AddMode", {"Newrecord1"}}, WindowState{"Viewer", {"find:S", "dblclick"}},
        WindowState{"Editor", {"find:S", "Button3", "Button5"}}, WindowState{"About", {"about"}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
