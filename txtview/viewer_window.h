#pragma once

#include "help_topics.h"

#include <QWidget>

class QListWidget;
class QPlainTextEdit;

namespace txtview {

// The help window: the list of topics on the left, the chosen topic's text on the right, and a
// button that closes the window (and with it the viewer).
class ViewerWindow : public QWidget {
    Q_OBJECT

public:
    // Shows `wanted` from `topics`; when there is no such topic, says so and lists the topics.
    // `problem`, when not empty, is shown instead of any topic (e.g. a help file that is missing).
    ViewerWindow(const QList<HelpTopic> &topics, const QString &wanted, const QString &problem);

    QString shownText() const;
    QString shownTopic() const;

private:
    void showTopic(int index);

    QList<HelpTopic> topics_;
    QListWidget *list_;
    QPlainTextEdit *text_;
};

} // namespace txtview
