#pragma once

#include <QString>

#include <functional>

class QWidget;

// Every message box of the program goes through this service, so the kinds, titles and buttons
// stay uniform and tests can answer boxes without a person.
namespace meridoc::messages {

enum class Kind { Information, Warning, Error, Confirmation };

enum Button { Yes = 0x1, No = 0x2, Ok = 0x4, Cancel = 0x8 };
using Buttons = int;

// One box as the program asks for it.
struct Request {
    Kind kind;
    QString text;
    Buttons buttons;
    QString title; // "Information", "Warning", "Error", "Confirm", or the application title
};

// Shows a modal box and returns the button pressed. A box closed without a button counts as
// the last of its buttons that is not Yes or Ok (so a question then means No).
Button show(QWidget *parent, Kind kind, const QString &text, Buttons buttons);

// The standard error report: error symbol, OK button, "MERIDOC" as caption, and the message
// followed by a full stop.
void showErrorReport(QWidget *parent, const QString &message);

// The text an error report shows for a message.
QString errorReportText(const QString &message);

// Replaces the real boxes, e.g. by a test's scripted answers. An empty function restores them.
using Handler = std::function<Button(QWidget *parent, const Request &request)>;
void setHandler(Handler handler);

QString titleFor(Kind kind);

} // namespace meridoc::messages
