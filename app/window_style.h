#pragma once

class QWidget;

namespace meridoc {

// Gives a window the program's icon and its small sans-serif font (about 8 points at 96 pixels per
// inch: 10 pixels high, as wide as the classic face), so the captions fit the controls' classic
// sizes.
void applyWindowStyle(QWidget *window);

} // namespace meridoc
