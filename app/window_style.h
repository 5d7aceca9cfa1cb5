#pragma once

class QMenuBar;
class QWidget;

namespace meridoc {

// Gives a window the program's icon and its small sans-serif font (about 8 points at 96 pixels per
// inch: 10 pixels high, as wide as the classic face), so the captions fit the controls' classic
// sizes; it stays on screen at any scale (keepOnScreen). Its labels size themselves to their
// captions whenever a caption changes, Enter on a focused push button presses it, and line edits
// tell a screen reader their whole text, in every window of the program.
void applyWindowStyle(QWidget *window);

// Makes the menu bar reachable from the keyboard without changing its captions: a lone Alt or
// F10 puts it into keyboard mode with its first menu highlighted; the arrow keys move through
// it, Enter or Down opens a menu or runs a command, Escape leaves it. The highlighted item is
// drawn highlighted also while no menu is open.
void enableMenuBarKeyboard(QMenuBar *bar);

} // namespace meridoc
