#include "app/main_window.h"
#include "components/Timelabel.h"
#include "support/program_dir.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QTimerEvent>
#include <gtest/gtest.h>

namespace {

TimeSettings settings(bool leadingZero, bool twelveHour, QString separator = ":", QString am = "AM",
                      QString pm = "PM") {
    return {leadingZero, twelveHour, separator, am, pm};
}

// Delivers one tick of the label's timer, as the event loop would.
void tick(TTimelabel &label) {
    QTimerEvent event(label.Timer()->timerId());
    QCoreApplication::sendEvent(label.Timer(), &event);
}

struct FormatCase {
    TimeSettings settings;
    QTime time;
    QString shown;
};

} // namespace

TEST(Timelabel, TimesAreWrittenOnTheLocalesClock) {
    const FormatCase cases[] = {
        {settings(true, false), QTime(14, 5, 9), "14:05:09"},
        {settings(true, false), QTime(0, 0, 0), "00:00:00"},
        {settings(false, false), QTime(0, 5, 9), "0:05:09"},
        {settings(false, false), QTime(9, 5, 9), "9:05:09"},
        {settings(false, true), QTime(0, 0, 0), "12:00:00 AM"},
        {settings(false, true), QTime(0, 59, 59), "12:59:59 AM"},
        {settings(false, true), QTime(11, 59, 59), "11:59:59 AM"},
        {settings(false, true), QTime(12, 0, 0), "12:00:00 PM"},
        {settings(false, true), QTime(13, 5, 9), "1:05:09 PM"},
        {settings(false, true), QTime(23, 0, 0), "11:00:00 PM"},
        {settings(true, true), QTime(9, 5, 9), "09:05:09 AM"},
        {settings(true, false, "."), QTime(9, 5, 9), "09.05.09"},
        // A locale that gives no separator or designators: ":" and "am"/"pm".
        {settings(false, true, "", "", ""), QTime(14, 5, 9), "2:05:09 pm"},
        {settings(false, true, "", "", ""), QTime(2, 5, 9), "2:05:09 am"},
    };
    for (const FormatCase &c : cases) {
        EXPECT_EQ(FormatTime(LongTimeFormat(c.settings), c.settings, c.time), c.shown)
            << c.shown.toStdString();
    }
}

TEST(Timelabel, SettingsAreReadFromTheLocale) {
    const TimeSettings us = TimeSettingsOf(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.twelveHour);
    EXPECT_FALSE(us.leadingZero);
    EXPECT_EQ(us.separator, ":");
    EXPECT_EQ(us.pmText, "PM");
    const TimeSettings de = TimeSettingsOf(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_FALSE(de.twelveHour);
    EXPECT_TRUE(de.leadingZero);
    const TimeSettings fi = TimeSettingsOf(QLocale(QLocale::Finnish, QLocale::Finland));
    EXPECT_FALSE(fi.leadingZero);
    EXPECT_EQ(fi.separator, ".");
    EXPECT_EQ(FormatTime(LongTimeFormat(fi), fi, QTime(7, 8, 9)), "7.08.09");
}

TEST(Timelabel, ShowsItsStoredCaptionUntilTheFirstTick) {
    QWidget window;
    TTimelabel label(&window);
    label.setText("Timelabel1");
    label.setClock([] { return QTime(14, 5, 9); });
    label.setLocaleSource([] { return settings(true, false); });
    EXPECT_EQ(label.Timer(), nullptr); // a label that is never loaded never ticks
    label.Loaded();
    ASSERT_NE(label.Timer(), nullptr);
    EXPECT_EQ(label.Timer()->interval(), 450);
    EXPECT_TRUE(label.Timer()->isActive());
    EXPECT_FALSE(label.Timer()->isSingleShot());
    QTimer *first = label.Timer();
    label.Loaded();
    EXPECT_EQ(label.Timer(), first);
    EXPECT_EQ(label.text(), "Timelabel1");
    tick(label);
    EXPECT_EQ(label.text(), "14:05:09");
}

TEST(Timelabel, AChangeOfTheLocaleSettingsShowsFromTheNextTick) {
    TTimelabel label;
    TimeSettings current = settings(true, false);
    label.setClock([] { return QTime(14, 5, 9); });
    label.setLocaleSource([&] { return current; });
    label.Loaded();
    tick(label);
    EXPECT_EQ(label.text(), "14:05:09");
    current = settings(false, true, ":", "a.m.", "p.m.");
    tick(label);
    EXPECT_EQ(label.text(), "14:05:09"); // read only when the settings are announced
    QEvent changed(QEvent::LocaleChange);
    QCoreApplication::sendEvent(&label, &changed);
    tick(label);
    EXPECT_EQ(label.text(), "2:05:09 p.m.");
}

TEST(Timelabel, ByDefaultItFollowsTheLabelsLocale) {
    TTimelabel label;
    label.setClock([] { return QTime(14, 5, 9); });
    label.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    label.Loaded();
    tick(label);
    EXPECT_EQ(label.text(), "2:05:09 PM");
    label.setLocale(QLocale(QLocale::German, QLocale::Germany));
    tick(label);
    EXPECT_EQ(label.text(), "14:05:09");
}

TEST(Timelabel, ItsWidthFollowsTheTimeText) {
    TTimelabel label;
    label.setGeometry(240, 8, 65, 17);
    label.setClock([] { return QTime(14, 5, 9); });
    label.setLocaleSource([] { return settings(false, true, ":", "am", "in the afternoon"); });
    label.Loaded();
    tick(label);
    EXPECT_EQ(label.pos(), QPoint(240, 8));
    EXPECT_EQ(label.width(), label.sizeHint().width());
    EXPECT_GT(label.width(), 65);
}

TEST(Timelabel, TheMainWindowsClockRunsFromTheEndOfLoading) {
    testsupport::TempProgramDir dir;
    TForm1 window(dir.path());
    auto *clock = window.findChild<TTimelabel *>("Timelabel1");
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(clock->pos(), QPoint(240, 8));
    EXPECT_EQ(clock->size(), clock->sizeHint()); // labels size to their caption
    EXPECT_EQ(clock->text(), "Timelabel1");
    ASSERT_NE(clock->Timer(), nullptr);
    EXPECT_TRUE(clock->Timer()->isActive());
    clock->setClock([] { return QTime(8, 30, 0); });
    tick(*clock);
    EXPECT_EQ(clock->text(),
              FormatTime(clock->CurrentFormat(), TimeSettingsOf(clock->locale()), QTime(8, 30, 0)));
    // A screen reader hears the time to the minute, and nothing while the clock is hidden.
    EXPECT_EQ(clock->accessibleName(), "Clock");
    window.show();
    tick(*clock);
    EXPECT_EQ(clock->accessibleName(), "Clock 08:30");
}
