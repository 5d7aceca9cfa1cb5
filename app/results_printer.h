#pragma once

#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace meridoc {

class ResultsGrid;

// The printed listing of the results grid: a header line, a rule line and one line per result
// row, in five columns. Positions are in printer device units of 1/300 inch, measured from the
// top-left corner of the printable area; a text is placed by the top-left corner of its first
// character.
namespace listing {

constexpr int Columns = 5;
constexpr std::array<int, Columns> ColumnX = {100, 550, 1000, 1400, 1800};
constexpr int HeaderY = 100;
constexpr int RuleY = 140;
constexpr int FirstRowY = 190;
constexpr int RowPitch = 50;
constexpr int DotsPerInch = 300;

extern const std::array<QString, Columns> HeaderTexts;
extern const std::array<QString, Columns> RuleTexts;

struct PlacedText {
    int x;
    int y;
    QString text;
    bool operator==(const PlacedText &) const = default;
};
using Page = std::vector<PlacedText>;
using RowCells = std::array<QString, Columns>;

// Lays the listing out on pages whose printable area is `pageHeight` units high, for texts that
// are `lineHeight` units high. Result row r (1 to rowCount - 1; row 0 is the grid's header and is
// not a result) goes at y = 140 + 50 r on the first page. A row that would reach below the
// printable area starts a new page, which repeats the header and rule lines and carries on at
// y = 190, so no row is lost; every page holds at least one row. Cells are placed exactly as
// given; empty cells place nothing.
class Layout {
public:
    using CellSource = std::function<RowCells(int row)>;

    Layout(int rowCount, CellSource cells, int pageHeight, int lineHeight);

    int pageCount() const;
    // The texts of one page (0-based), header and rule first, then the rows top to bottom.
    Page page(int index) const;
    // The number of result rows each page holds.
    int rowsPerPage() const { return rowsPerPage_; }

private:
    int results_;
    CellSource cells_;
    int rowsPerPage_;
};

// The horizontal scale for a text `textWidth` units wide placed at `x` on a printable area
// `pageWidth` units wide: 1 when it ends inside the area, otherwise the factor that narrows it to
// end at the edge, so that a long comment is condensed rather than cut off.
double widthScale(int x, int textWidth, int pageWidth);

// The whole listing at once; meant for small grids and tests.
std::vector<Page> layOut(const std::vector<RowCells> &resultRows, int pageHeight, int lineHeight);

} // namespace listing

// Prints the grid's result rows on the default printer at once, without a dialog. Throws
// meridoc::Exception with "There is no default printer currently selected" when there is none,
// and with another message when the print job cannot be started or finished.
void PrintResults(const ResultsGrid &grid);

} // namespace meridoc
