#pragma once

class QWidget;

namespace meridoc {

// Gives a window the program's small sans-serif font (8 points at 96 pixels per inch, 11 pixels
// high), so the captions fit the controls' classic sizes.
void applyWindowStyle(QWidget *window);

} // namespace meridoc
