#pragma once

#include <QLabel>
#include <QLocale>
#include <QString>
#include <QTime>

#include <functional>

class QTimer;

// How a locale writes a time of day.
struct TimeSettings {
    bool leadingZero = true; // hours always with two digits
    bool twelveHour = false; // a 12-hour clock with morning/afternoon designators
    QString separator;       // between hours, minutes and seconds; empty means ":"
    QString amText;          // morning designator; empty means "am"
    QString pmText;          // afternoon designator; empty means "pm"
};

// The time settings of a locale, read from its long time format and its designators.
TimeSettings TimeSettingsOf(const QLocale &locale);

// The long time format: "hh" (or "h" without leading zeros), then ":mm:ss", then " AMPM" on a
// 12-hour clock. In it ":" stands for the separator and AMPM for the designator.
QString LongTimeFormat(const TimeSettings &settings);

// `time` written in `format` (as LongTimeFormat builds it) with the given settings. With AMPM
// in the format the hours follow the 12-hour clock (12, 1 ... 11).
QString FormatTime(const QString &format, const TimeSettings &settings, const QTime &time);

// A label that shows the local time of day and keeps it current by itself. Until loading has
// ended and the first tick has come it shows its stored caption. Assistive technology knows it as
// "Clock" with the time to the minute, renewed once a minute while it is on screen, so a screen
// reader is not told of every second, nor of anything while the clock is hidden.
class TTimelabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)

public:
    // How often the time is shown anew, in milliseconds.
    static constexpr int Interval = 450;

    using Clock = std::function<QTime()>;
    using LocaleSource = std::function<TimeSettings()>;

    explicit TTimelabel(QWidget *parent = nullptr);

    // The window has finished setting the label up: the timer is made and started, once.
    void Loaded();
    // The timer's handler: shows the current time.
    void UpdateTime();

    // The timer, once loading has ended; null before.
    QTimer *Timer() const { return timer_; }
    QString CurrentFormat() const { return format_; }
    // With AutoSize on (the default) the label's size follows its text.
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool value) { autoSize_ = value; }

    // Where the time and the locale's settings come from; by default the local clock and the
    // label's locale. Setting a source rebuilds the format.
    void setClock(Clock clock);
    void setLocaleSource(LocaleSource source);

protected:
    // A change of the locale settings rebuilds the format; the next tick shows it.
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void rebuildFormat();
    void renewAccessibleName();

    QTimer *timer_ = nullptr;
    Clock clock_;
    LocaleSource localeSource_;
    TimeSettings settings_;
    QString format_;
    bool autoSize_ = true;
};
