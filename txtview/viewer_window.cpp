#include "viewer_window.h"

#include "desktop/desktop_identity.h"
#include "desktop/window_fit.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace txtview {

ViewerWindow::ViewerWindow(const QList<HelpTopic> &topics, const QString &wanted,
                           const QString &problem)
    : topics_(topics), list_(new QListWidget), text_(new QPlainTextEdit) {
    setObjectName(QStringLiteral("ViewerWindow"));
    setWindowTitle(QStringLiteral("MERIDOC Help"));
    setWindowIcon(meridoc::programIcon());
    meridoc::announceAsWindow(this);
    meridoc::keepOnScreen(this);
    list_->setAccessibleName(QStringLiteral("Help topics"));
    text_->setAccessibleName(QStringLiteral("Help text"));
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    text_->setReadOnly(true);
    // A caret the keys move, so a screen reader reads the text line by line.
    text_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    // The help text lines up columns with blanks.
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Wide enough for the help text's 76 columns beside the scroll bar.
    text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(QString(76, QLatin1Char('x'))) +
                           40);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    list_->setMaximumWidth(210);
    for (const HelpTopic &t : topics_)
        list_->addItem(t.name);
    auto *close = new QPushButton(QStringLiteral("CLOSE"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto *panes = new QHBoxLayout;
    panes->addWidget(list_);
    panes->addWidget(text_, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(panes, 1);
    layout->addLayout(buttons);

    resize(sizeHint().width(), 560);
    // That width is where the window starts; on a small screen (or at a large scale) it may be
    // narrower, the text then wrapping.
    text_->setMinimumWidth(0);

    if (!problem.isEmpty()) {
        text_->setPlainText(problem);
        return;
    }
    const qsizetype index = FindTopic(topics_, wanted);
    if (index >= 0) {
        list_->setCurrentRow(static_cast<int>(index));
        showTopic(static_cast<int>(index));
    } else {
        QString message = QStringLiteral("Topic not found: \"%1\".").arg(wanted);
        if (!topics_.isEmpty())
            message += QStringLiteral("\n\nChoose one of the topics on the left.");
        text_->setPlainText(message);
    }
    connect(list_, &QListWidget::currentRowChanged, this, &ViewerWindow::showTopic);
}

void ViewerWindow::showTopic(int index) {
    if (index < 0 || index >= topics_.size())
        return;
    setWindowTitle(QStringLiteral("MERIDOC Help - ") + topics_[index].name);
    text_->setPlainText(topics_[index].text);
}

QString ViewerWindow::shownText() const {
    return text_->toPlainText();
}

QString ViewerWindow::shownTopic() const {
    const QListWidgetItem *item = list_->currentItem();
    return item ? item->text() : QString();
}

} // namespace txtview
