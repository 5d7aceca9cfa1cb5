#include "name_entry.h"

#include "data/text.h"

#include <QLineEdit>
#include <QValidator>

namespace meridoc {

namespace {

bool isNameCharacter(QChar c) {
    return (c.isLetter() || c.isDigit()) && text::fromCp1252(text::toCp1252(QString(c))) == c;
}

// Sees the box's text as displayed, an empty position being a blank or the mask's "_". Refuses a
// character a name cannot hold; moves the empty positions inside the text to its end.
class NameValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override {
        QString typed;
        int typedBeforeCursor = 0;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            if (c == QLatin1Char('_') || c == QLatin1Char(' '))
                continue;
            if (!isNameCharacter(c))
                return Invalid;
            typed.append(c);
            if (i < pos)
                ++typedBeforeCursor;
        }
        input = typed + QString(input.size() - typed.size(), QLatin1Char('_'));
        pos = typedBeforeCursor;
        return Acceptable;
    }
};

// The number of typed characters: the text up to its last non-empty position.
int typedLength(const QLineEdit &entry) {
    const QString shown = entry.displayText();
    qsizetype end = shown.size();
    while (end > 0 && (shown.at(end - 1) == QLatin1Char('_') || shown.at(end - 1).isSpace()))
        --end;
    return static_cast<int>(end);
}

} // namespace

void setUpNameEntry(QLineEdit *entry) {
    entry->setValidator(new NameValidator(entry));
    // The cursor never rests in the blanks after the text (a click there, End, the arrow keys).
    QObject::connect(entry, &QLineEdit::cursorPositionChanged, entry, [entry](int, int now) {
        if (!entry->hasSelectedText() && now > typedLength(*entry))
            entry->setCursorPosition(typedLength(*entry));
    });
}

void focusNameEntry(QLineEdit *entry) {
    entry->setFocus(Qt::OtherFocusReason);
    entry->selectAll();
}

} // namespace meridoc
