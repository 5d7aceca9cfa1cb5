#pragma once

class QLineEdit;

namespace meridoc {

// The card-file name entry of the FILE commands: a masked box of 12 positions that takes only
// letters and digits a card file's name can be stored with (Windows-1252). Typed text always
// starts at the first position and has no gaps: a click into the blanks after it puts the
// cursor right after the text, and a position emptied inside it closes up.
void setUpNameEntry(QLineEdit *entry);

// Gives the entry the keyboard focus with its whole text selected, so typing replaces the last
// name while the box still shows it.
void focusNameEntry(QLineEdit *entry);

} // namespace meridoc
