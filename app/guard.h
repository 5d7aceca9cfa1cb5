#pragma once

#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace meridoc {

// Runs one event handler's body. An error escaping it never reaches Qt's event loop: it ends the
// handler and is shown in the standard error report, after which the program carries on.
// Returns false when the body ended with an error.
bool guarded(QWidget *parent, const std::function<void()> &body);

// The message an escaping error is reported with.
QString describeError(const std::exception_ptr &error);

} // namespace meridoc
