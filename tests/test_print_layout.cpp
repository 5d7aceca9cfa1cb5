#include "app/results_grid.h"
#include "app/results_printer.h"
#include "data/entryrecord.h"

#include <QTableView>
#include <gtest/gtest.h>

using namespace meridoc;
using listing::Page;
using listing::PlacedText;
using listing::RowCells;

namespace {

// Room for many rows, so that nothing breaks unless a test wants it to.
constexpr int TallPage = 100000;
constexpr int LineHeight = 39;

Page headerAndRule() {
    return {{100, 100, "NAME"},
            {550, 100, "SURNAME"},
            {1000, 100, "PHONE1"},
            {1400, 100, "PHONE2"},
            {1800, 100, "COMMENTS"},
            {100, 140, "---------"},
            {550, 140, "----------------"},
            {1000, 140, "-------------"},
            {1400, 140, "-------------"},
            {1800, 140, "-------------------"}};
}

RowCells numbered(int n) {
    const QString s = QString::number(n);
    return {"N" + s, "S" + s, "P" + s, "Q" + s, "C" + s};
}

// The y positions of the row texts in column 0 of a page.
std::vector<int> rowYs(const Page &page) {
    std::vector<int> ys;
    for (const PlacedText &t : page) {
        if (t.x == 100 && t.y > 140)
            ys.push_back(t.y);
    }
    return ys;
}

} // namespace

TEST(PrintLayout, TheNoMatchRowPrintsOnlyItsComment) {
    const auto pages =
        listing::layOut({{"", "", "", "", "No matching entries found."}}, TallPage, LineHeight);
    ASSERT_EQ(pages.size(), 1u);
    Page expected = headerAndRule();
    expected.push_back({1800, 190, "No matching entries found."});
    EXPECT_EQ(pages[0], expected);
}

TEST(PrintLayout, CellsArePrintedExactlyAsHeld) {
    const auto pages = listing::layOut(
        {{" Ann ", "SMITH  ", "", "   ", "a comment that runs far past its column's edge"}},
        TallPage, LineHeight);
    ASSERT_EQ(pages.size(), 1u);
    Page expected = headerAndRule();
    expected.push_back({100, 190, " Ann "});
    expected.push_back({550, 190, "SMITH  "});
    expected.push_back({1400, 190, "   "});
    expected.push_back({1800, 190, "a comment that runs far past its column's edge"});
    EXPECT_EQ(pages[0], expected);
}

TEST(PrintLayout, RowsFollowTheGridOrderFiftyUnitsApart) {
    for (int k : {1, 2, 7, 40}) {
        std::vector<RowCells> rows;
        for (int r = 1; r <= k; ++r)
            rows.push_back(numbered(r));
        const auto pages = listing::layOut(rows, TallPage, LineHeight);
        ASSERT_EQ(pages.size(), 1u) << k;
        Page expected = headerAndRule();
        for (int r = 1; r <= k; ++r) {
            const int y = 140 + 50 * r;
            for (int c = 0; c < 5; ++c)
                expected.push_back({listing::ColumnX[c], y, numbered(r)[c]});
        }
        EXPECT_EQ(pages[0], expected) << k;
    }
}

struct BreakCase {
    int pageHeight;
    int lineHeight;
    int rows;
    std::vector<int> rowsOnPages;
};

class PageBreaks : public ::testing::TestWithParam<BreakCase> {};

TEST_P(PageBreaks, ALongListGoesOnOntoFurtherPagesWithNothingLost) {
    const BreakCase &bc = GetParam();
    std::vector<RowCells> rows;
    for (int r = 1; r <= bc.rows; ++r)
        rows.push_back(numbered(r));
    const auto pages = listing::layOut(rows, bc.pageHeight, bc.lineHeight);

    std::vector<int> counts;
    int next = 1;
    for (const Page &page : pages) {
        // Every page starts with the header and the rule at their places.
        const Page head(page.begin(), page.begin() + 10);
        EXPECT_EQ(head, headerAndRule());
        const std::vector<int> ys = rowYs(page);
        counts.push_back(static_cast<int>(ys.size()));
        for (size_t i = 0; i < ys.size(); ++i) {
            EXPECT_EQ(ys[i], 190 + 50 * static_cast<int>(i));
            EXPECT_LE(ys[i] + bc.lineHeight, std::max(bc.pageHeight, 190 + bc.lineHeight));
        }
        for (size_t i = 10; i < page.size(); i += 5)
            EXPECT_EQ(page[i].text, numbered(next++)[0]);
    }
    EXPECT_EQ(next, bc.rows + 1) << "every row printed once, in order";
    EXPECT_EQ(counts, bc.rowsOnPages);
}

INSTANTIATE_TEST_SUITE_P(
    PrintLayout, PageBreaks,
    ::testing::Values(
        // A4 at 300 dpi without margins: rows at 190 ... 3440 fit, 66 a page.
        BreakCase{3508, 39, 66, {66}}, BreakCase{3508, 39, 67, {66, 1}},
        BreakCase{3508, 39, 200, {66, 66, 66, 2}},
        // A row that would only just touch the bottom still fits; one unit more does not.
        BreakCase{190 + 50 * 9 + 39, 39, 11, {10, 1}}, BreakCase{190 + 50 * 9 + 38, 39, 11, {9, 2}},
        // A page too short for even one row still takes one, so printing always ends.
        BreakCase{150, 39, 3, {1, 1, 1}}),
    [](const auto &info) { return "Case" + std::to_string(info.index); });

TEST(PrintLayout, AGridWithoutResultRowsPrintsTheHeaderAlone) {
    const auto pages = listing::layOut({}, TallPage, LineHeight);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], headerAndRule());
}

TEST(PrintLayout, ReadsTheResultsGridRowsButNotItsHeader) {
    QTableView view;
    ResultsGrid grid(&view);
    grid.beginFill();
    for (const char *name : {"ADAMS", "BAKER"}) {
        EntryRecord r;
        r.setField(Field::SURNAME, name);
        grid.addResult(r);
    }
    grid.endFill();
    const listing::Layout layout(
        grid.rowCount(), [&grid](int row) { return grid.rowCells(row); }, TallPage, LineHeight);
    ASSERT_EQ(layout.pageCount(), 1);
    Page expected = headerAndRule();
    expected.push_back({550, 190, "ADAMS"});
    expected.push_back({550, 240, "BAKER"});
    EXPECT_EQ(layout.page(0), expected);
}

TEST(PrintLayout, OnlyTextsRunningPastTheRightEdgeAreNarrowed) {
    struct Case {
        int x, textWidth, pageWidth;
        double scale;
    };
    for (const Case &c :
         {Case{1800, 500, 2400, 1.0}, Case{1800, 600, 2400, 1.0}, Case{1800, 800, 2400, 0.75},
          Case{100, 4600, 2400, 0.5}, Case{2400, 10, 2400, 1.0}}) {
        EXPECT_DOUBLE_EQ(listing::widthScale(c.x, c.textWidth, c.pageWidth), c.scale)
            << c.x << " " << c.textWidth;
    }
}
