#include "messages.h"

#include <QMessageBox>
#include <QPushButton>

namespace meridoc::messages {
namespace {

Handler &currentHandler() {
    static Handler handler;
    return handler;
}

QMessageBox::Icon iconFor(Kind kind) {
    switch (kind) {
    case Kind::Information:
        return QMessageBox::Information;
    case Kind::Warning:
        return QMessageBox::Warning;
    case Kind::Error:
        return QMessageBox::Critical;
    case Kind::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

Button showReal(QWidget *parent, const Request &request) {
    QMessageBox box(iconFor(request.kind), request.title, request.text, QMessageBox::NoButton,
                    parent);
    struct Choice {
        Button button;
        const char *caption;
        QMessageBox::ButtonRole role;
    };
    const Choice choices[] = {{Yes, "Yes", QMessageBox::YesRole},
                              {No, "No", QMessageBox::NoRole},
                              {Ok, "OK", QMessageBox::AcceptRole},
                              {Cancel, "Cancel", QMessageBox::RejectRole}};
    QList<std::pair<QAbstractButton *, Button>> added;
    Button escapeAnswer = Ok;
    for (const Choice &c : choices) {
        if (request.buttons & c.button) {
            added.append({box.addButton(QString::fromLatin1(c.caption), c.role), c.button});
            if (c.button == No || c.button == Cancel || escapeAnswer == Ok)
                escapeAnswer = c.button;
        }
    }
    if (!added.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton *>(added.first().first));
        for (const auto &[widget, button] : added) {
            if (button == escapeAnswer)
                box.setEscapeButton(widget);
        }
    }
    box.exec();
    for (const auto &[widget, button] : added) {
        if (box.clickedButton() == widget)
            return button;
    }
    return escapeAnswer;
}

} // namespace

QString titleFor(Kind kind) {
    switch (kind) {
    case Kind::Information:
        return QStringLiteral("Information");
    case Kind::Warning:
        return QStringLiteral("Warning");
    case Kind::Error:
        return QStringLiteral("Error");
    case Kind::Confirmation:
        return QStringLiteral("Confirm");
    }
    return {};
}

Button show(QWidget *parent, Kind kind, const QString &text, Buttons buttons) {
    const Request request{kind, text, buttons, titleFor(kind)};
    if (currentHandler())
        return currentHandler()(parent, request);
    return showReal(parent, request);
}

QString errorReportText(const QString &message) {
    return message.endsWith('.') ? message : message + '.';
}

void showErrorReport(QWidget *parent, const QString &message) {
    const Request request{Kind::Error, errorReportText(message), Ok, QStringLiteral("MERIDOC")};
    if (currentHandler())
        currentHandler()(parent, request);
    else
        showReal(parent, request);
}

void setHandler(Handler handler) {
    currentHandler() = std::move(handler);
}

} // namespace meridoc::messages
