#include "Timelabel.h"

#include <QEvent>
#include <QRegularExpression>
#include <QTimer>

namespace {

// The text of a locale's format pattern without its quoting.
QString unquoted(QString s) {
    return s.remove(QLatin1Char('\''));
}

QString twoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

TimeSettings TimeSettingsOf(const QLocale &locale) {
    const QString pattern = locale.timeFormat(QLocale::LongFormat);
    TimeSettings s;
    // A 12-hour clock shows the designator (a or A outside quoted text).
    QString unquotedPattern = pattern;
    unquotedPattern.remove(QRegularExpression(QStringLiteral("'[^']*'")));
    s.twelveHour = unquotedPattern.contains(QLatin1Char('a'), Qt::CaseInsensitive);
    const qsizetype hour = pattern.indexOf(QRegularExpression(QStringLiteral("[hH]")));
    if (hour >= 0) {
        qsizetype end = hour;
        while (end < pattern.size() && pattern[end] == pattern[hour])
            ++end;
        s.leadingZero = end - hour >= 2;
        const qsizetype minute = pattern.indexOf(QLatin1Char('m'), end);
        if (minute > end)
            s.separator = unquoted(pattern.mid(end, minute - end)).trimmed();
    }
    s.amText = locale.amText();
    s.pmText = locale.pmText();
    return s;
}

QString LongTimeFormat(const TimeSettings &settings) {
    QString format = settings.leadingZero ? QStringLiteral("hh") : QStringLiteral("h");
    format += QStringLiteral(":mm:ss");
    if (settings.twelveHour)
        format += QStringLiteral(" AMPM");
    return format;
}

QString FormatTime(const QString &format, const TimeSettings &settings, const QTime &time) {
    const bool twelveHour = format.contains(QStringLiteral("AMPM"));
    int hour = time.hour();
    if (twelveHour) {
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    const QString separator =
        settings.separator.isEmpty() ? QStringLiteral(":") : settings.separator;
    const QString am = settings.amText.isEmpty() ? QStringLiteral("am") : settings.amText;
    const QString pm = settings.pmText.isEmpty() ? QStringLiteral("pm") : settings.pmText;

    QString out;
    for (qsizetype i = 0; i < format.size();) {
        const auto at = [&](const char *token) {
            return QStringView(format).mid(i).startsWith(QLatin1String(token));
        };
        if (at("AMPM")) {
            out += time.hour() < 12 ? am : pm;
            i += 4;
        } else if (at("hh") || at("mm") || at("ss")) {
            const QChar c = format[i];
            out += twoDigits(c == 'h' ? hour : c == 'm' ? time.minute() : time.second());
            i += 2;
        } else if (at("h") || at("m") || at("s")) {
            const QChar c = format[i];
            out += QString::number(c == 'h' ? hour : c == 'm' ? time.minute() : time.second());
            i += 1;
        } else if (format[i] == ':') {
            out += separator;
            i += 1;
        } else {
            out += format[i];
            i += 1;
        }
    }
    return out;
}

TTimelabel::TTimelabel(QWidget *parent) : QLabel(parent) {
    // With a name of its own the label no longer reports each new text as a new name.
    setAccessibleName(QStringLiteral("Clock"));
    clock_ = [] { return QTime::currentTime(); };
    localeSource_ = [this] { return TimeSettingsOf(locale()); };
    rebuildFormat();
    update();
}

void TTimelabel::Loaded() {
    if (timer_)
        return;
    timer_ = new QTimer(this);
    timer_->setInterval(Interval);
    connect(timer_, &QTimer::timeout, this, &TTimelabel::UpdateTime);
    timer_->start();
}

void TTimelabel::UpdateTime() {
    setText(FormatTime(format_, settings_, clock_()));
    if (autoSize_)
        resize(sizeHint());
    renewAccessibleName();
}

void TTimelabel::renewAccessibleName() {
    if (!isVisible() || !timer_)
        return;
    const QString name =
        QStringLiteral("Clock ") +
        FormatTime(QString(format_).remove(QStringLiteral(":ss")), settings_, clock_());
    if (name != accessibleName())
        setAccessibleName(name);
}

void TTimelabel::showEvent(QShowEvent *event) {
    QLabel::showEvent(event);
    renewAccessibleName();
}

void TTimelabel::setClock(Clock clock) {
    clock_ = std::move(clock);
}

void TTimelabel::setLocaleSource(LocaleSource source) {
    localeSource_ = std::move(source);
    rebuildFormat();
}

void TTimelabel::rebuildFormat() {
    settings_ = localeSource_();
    format_ = LongTimeFormat(settings_);
}

void TTimelabel::changeEvent(QEvent *event) {
    if (event->type() == QEvent::LocaleChange)
        rebuildFormat();
    QLabel::changeEvent(event);
}
