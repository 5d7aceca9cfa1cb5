#pragma once

#include "app/messages.h"

#include <QList>
#include <QString>

namespace testsupport {

// Answers the program's message boxes from a script while it is alive. Each expected box gives
// its kind, text and the button to press; a box that was not expected, or that differs from the
// next expected one, fails the test (and is answered with its most cautious button).
class ScriptedMessages {
public:
    struct Expected {
        meridoc::messages::Kind kind;
        QString text;
        meridoc::messages::Button answer;
        meridoc::messages::Buttons buttons = 0; // 0: not checked
    };

    ScriptedMessages();
    ~ScriptedMessages(); // fails the test if expected boxes were not shown

    ScriptedMessages &expect(meridoc::messages::Kind kind, const QString &text,
                             meridoc::messages::Button answer,
                             meridoc::messages::Buttons buttons = 0);
    // The standard error report with this message.
    ScriptedMessages &expectError(const QString &message);

    const QList<meridoc::messages::Request> &shown() const { return shown_; }
    int pending() const { return static_cast<int>(expected_.size()); }

private:
    QList<Expected> expected_;
    QList<meridoc::messages::Request> shown_;
};

} // namespace testsupport
