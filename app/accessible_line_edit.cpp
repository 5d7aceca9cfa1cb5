// What a screen reader is told about a line edit.
//
// Qt 6.4's own interface for QLineEdit reports a text-attribute run of length zero at every
// offset (start = end = offset). Orca 43 builds the runs of a text by asking for the run at each
// offset and joins runs that have the same attributes, so it ends the joined run at the start of
// the last character and reads every value one character short ("555-123" for 555-1234). This
// interface reports the one run the plain text of a line edit has, from its first character to
// its end, and is otherwise what the toolkit reports. It can go once users no longer have this
// pair of versions (Debian 12 ships both).
//
// It also never reports the caret or a selection past the end of the text: a masked box (the
// card-file name entry) counts its empty positions in its cursor position but not in its text,
// and a caret past the text leaves the screen reader nothing to read.
#include "accessible_line_edit.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>

namespace meridoc {

namespace {

class AccessibleLineEdit : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit AccessibleLineEdit(QLineEdit *edit)
        : QAccessibleWidget(edit, QAccessible::EditableText) {
        addControllingSignal(QStringLiteral("textChanged(QString)"));
        addControllingSignal(QStringLiteral("returnPressed()"));
    }

    QLineEdit *edit() const { return static_cast<QLineEdit *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (t == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        QString s;
        if (t == QAccessible::Value && edit()->echoMode() == QLineEdit::Normal)
            s = edit()->text();
        else if (t == QAccessible::Value && edit()->echoMode() != QLineEdit::NoEcho)
            s = QString(edit()->text().size(), QLatin1Char('*'));
        if (s.isEmpty())
            s = QAccessibleWidget::text(t);
        if (s.isEmpty() && t == QAccessible::Description)
            s = edit()->placeholderText();
        return s;
    }

    void setText(QAccessible::Text t, const QString &text) override {
        if (t != QAccessible::Value) {
            QAccessibleWidget::setText(t, text);
            return;
        }
        QString value = text;
        int pos = 0;
        if (const QValidator *v = edit()->validator();
            v && v->validate(value, pos) != QValidator::Acceptable)
            return;
        edit()->setText(value);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.readOnly = edit()->isReadOnly();
        s.passwordEdit = edit()->echoMode() != QLineEdit::Normal;
        s.selectableText = true;
        return s;
    }

    // QAccessibleTextInterface

    QString text(int startOffset, int endOffset) const override {
        if (startOffset > endOffset)
            return {};
        return shownText().mid(startOffset, endOffset - startOffset);
    }

    int characterCount() const override { return static_cast<int>(shownText().size()); }

    // The whole text is one run of the same (default) attributes.
    QString attributes(int offset, int *startOffset, int *endOffset) const override {
        const int count = characterCount();
        if (offset < 0 || offset > count) {
            *startOffset = *endOffset = -1;
            return {};
        }
        *startOffset = 0;
        *endOffset = count;
        return {};
    }

    int cursorPosition() const override { return clamped(edit()->cursorPosition()); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }

    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !edit()->hasSelectedText())
            return;
        *startOffset = clamped(edit()->selectionStart());
        *endOffset = clamped(edit()->selectionEnd());
    }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override {
        if (selectionIndex == 0)
            edit()->deselect();
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override {
        if (selectionIndex == 0)
            edit()->setSelection(startOffset, endOffset - startOffset);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                             int *endOffset) const override {
        return QAccessibleTextInterface::textBeforeOffset(atCaret(offset), boundary, startOffset,
                                                          endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                            int *endOffset) const override {
        return QAccessibleTextInterface::textAfterOffset(atCaret(offset), boundary, startOffset,
                                                         endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int *startOffset,
                         int *endOffset) const override {
        return QAccessibleTextInterface::textAtOffset(atCaret(offset), boundary, startOffset,
                                                      endOffset);
    }

    // The box shows its text from the left of its contents, one line centred vertically.
    QRect characterRect(int offset) const override {
        const QString c = text(offset, offset + 1);
        if (c.isEmpty())
            return {};
        const QFontMetrics metrics(edit()->font());
        const QRect room = edit()->contentsRect().marginsRemoved(edit()->textMargins());
        const int x =
            room.left() + TextMargin + metrics.horizontalAdvance(shownText().left(offset));
        const QRect r(x, room.top() + (room.height() - metrics.height()) / 2,
                      metrics.horizontalAdvance(c), metrics.height());
        return QRect(edit()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override {
        return clamped(edit()->cursorPositionAt(edit()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int startIndex, int endIndex) override {
        edit()->setCursorPosition(endIndex);
        edit()->setCursorPosition(startIndex);
    }

    // QAccessibleEditableTextInterface

    void deleteText(int startOffset, int endOffset) override {
        edit()->setText(edit()->text().remove(startOffset, endOffset - startOffset));
    }
    void insertText(int offset, const QString &text) override {
        edit()->setText(edit()->text().insert(offset, text));
    }
    void replaceText(int startOffset, int endOffset, const QString &text) override {
        edit()->setText(edit()->text().replace(startOffset, endOffset - startOffset, text));
    }

private:
    static constexpr int TextMargin = 2; // the toolkit's space before the first character

    // What may be read out: nothing of a hidden (password) text.
    QString shownText() const {
        return edit()->echoMode() == QLineEdit::Normal ? edit()->text() : QString();
    }
    int clamped(int offset) const { return std::clamp(offset, 0, characterCount()); }
    // Offset -2 stands for the caret.
    int atCaret(int offset) const { return offset == -2 ? cursorPosition() : offset; }
};

QAccessibleInterface *lineEditFactory(const QString &className, QObject *object) {
    if (className != QLatin1String("QLineEdit"))
        return nullptr;
    auto *edit = qobject_cast<QLineEdit *>(object);
    return edit ? new AccessibleLineEdit(edit) : nullptr;
}

} // namespace

void installLineEditAccessibility() {
    static const bool installed = [] {
        // Factories installed later are asked first, so this one comes before the toolkit's.
        QAccessible::installFactory(lineEditFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace meridoc
