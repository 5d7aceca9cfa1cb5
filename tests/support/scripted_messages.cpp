#include "scripted_messages.h"

#include <gtest/gtest.h>

using namespace meridoc::messages;

namespace testsupport {
namespace {

Button cautious(Buttons buttons) {
    for (Button b : {Cancel, No, Ok, Yes}) {
        if (buttons & b)
            return b;
    }
    return Ok;
}

} // namespace

ScriptedMessages::ScriptedMessages() {
    setHandler([this](QWidget *, const Request &request) {
        shown_.append(request);
        if (expected_.isEmpty()) {
            ADD_FAILURE() << "unexpected message box: " << request.text.toStdString();
            return cautious(request.buttons);
        }
        const Expected next = expected_.takeFirst();
        EXPECT_EQ(static_cast<int>(request.kind), static_cast<int>(next.kind))
            << "kind of box: " << request.text.toStdString();
        EXPECT_EQ(request.text.toStdString(), next.text.toStdString());
        if (next.buttons) {
            EXPECT_EQ(request.buttons, next.buttons) << request.text.toStdString();
        }
        return next.answer;
    });
}

ScriptedMessages::~ScriptedMessages() {
    setHandler({});
    for (const Expected &e : expected_)
        ADD_FAILURE() << "message box not shown: " << e.text.toStdString();
}

ScriptedMessages &ScriptedMessages::expect(Kind kind, const QString &text, Button answer,
                                           Buttons buttons) {
    expected_.append({kind, text, answer, buttons});
    return *this;
}

ScriptedMessages &ScriptedMessages::expectError(const QString &message) {
    return expect(Kind::Error, errorReportText(message), Ok, Ok);
}

} // namespace testsupport
