#pragma once

namespace meridoc {

// Makes every line edit of the program report its text to assistive technology through
// AccessibleLineEdit (accessible_line_edit.cpp) instead of the toolkit's own interface. Safe to
// call more than once.
void installLineEditAccessibility();

} // namespace meridoc
