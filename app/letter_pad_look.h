#pragma once

class QColor;
class QTableWidget;

namespace meridoc {

// The letter pad's look, from the window's palette and font: silver cells with the palette's
// text colour where that reads well (the classic look), the palette's button colours where it
// does not (a dark or high-contrast palette); the current cell framed in the text colour, which
// stands out at least 3:1 from the cells; letters in the window's font.
void styleLetterPad(QTableWidget *pad);

// The contrast ratio of two colours (1 to 21), as accessibility guidelines define it.
double contrastRatio(const QColor &a, const QColor &b);

} // namespace meridoc
