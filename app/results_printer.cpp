#include "results_printer.h"

#include "data/errors.h"
#include "results_grid.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>

namespace meridoc {
namespace listing {

const std::array<QString, Columns> HeaderTexts = {
    QStringLiteral("NAME"), QStringLiteral("SURNAME"), QStringLiteral("PHONE1"),
    QStringLiteral("PHONE2"), QStringLiteral("COMMENTS")};

const std::array<QString, Columns> RuleTexts = {
    QString(9, u'-'), QString(16, u'-'), QString(13, u'-'), QString(13, u'-'), QString(19, u'-')};

Layout::Layout(int rowCount, CellSource cells, int pageHeight, int lineHeight)
    : results_(std::max(rowCount - 1, 0)), cells_(std::move(cells)) {
    // The last row of a page is the lowest whose whole height still lies inside the page.
    const int room = pageHeight - lineHeight - FirstRowY;
    rowsPerPage_ = room < 0 ? 1 : room / RowPitch + 1;
}

int Layout::pageCount() const {
    return results_ == 0 ? 1 : (results_ + rowsPerPage_ - 1) / rowsPerPage_;
}

Page Layout::page(int index) const {
    Page out;
    for (int c = 0; c < Columns; ++c)
        out.push_back({ColumnX[c], HeaderY, HeaderTexts[c]});
    for (int c = 0; c < Columns; ++c)
        out.push_back({ColumnX[c], RuleY, RuleTexts[c]});
    const int first = 1 + index * rowsPerPage_;
    const int last = std::min(results_, first + rowsPerPage_ - 1);
    for (int row = first; row <= last; ++row) {
        const int y = FirstRowY + RowPitch * (row - first);
        const RowCells cells = cells_(row);
        for (int c = 0; c < Columns; ++c) {
            if (!cells[c].isEmpty())
                out.push_back({ColumnX[c], y, cells[c]});
        }
    }
    return out;
}

double widthScale(int x, int textWidth, int pageWidth) {
    const int room = pageWidth - x;
    if (textWidth <= room || room <= 0)
        return 1.0;
    return static_cast<double>(room) / textWidth;
}

std::vector<Page> layOut(const std::vector<RowCells> &resultRows, int pageHeight, int lineHeight) {
    const Layout layout(
        static_cast<int>(resultRows.size()) + 1,
        [&resultRows](int row) { return resultRows[row - 1]; }, pageHeight, lineHeight);
    std::vector<Page> pages;
    for (int p = 0; p < layout.pageCount(); ++p)
        pages.push_back(layout.page(p));
    return pages;
}

} // namespace listing

namespace {

// A plain sans-serif font small enough that even the two closest lines, the header and the rule
// 40 units apart, never overlap on the printer.
QFont listingFont(QPaintDevice *printer) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    const int gap = listing::RuleY - listing::HeaderY;
    for (qreal points = 8; points >= 4; points -= 0.5) {
        font.setPointSizeF(points);
        if (QFontMetrics(font, printer).height() <= gap)
            break;
    }
    return font;
}

} // namespace

void PrintResults(const ResultsGrid &grid) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        throw Exception(QStringLiteral("There is no default printer currently selected"));

    QPrinter printer(info, QPrinter::HighResolution);
    printer.setResolution(listing::DotsPerInch);
    QPainter painter;
    if (!painter.begin(&printer))
        throw Exception(QStringLiteral("The print job could not be started"));

    const QFont font = listingFont(&printer);
    painter.setFont(font);
    const QFontMetrics metrics(font, &printer);
    const listing::Layout layout(
        grid.rowCount(), [&grid](int row) { return grid.rowCells(row); }, printer.height(),
        metrics.height());
    for (int p = 0; p < layout.pageCount(); ++p) {
        if (p > 0 && !printer.newPage()) {
            painter.end();
            throw Exception(QStringLiteral("The printer could not start a new page"));
        }
        for (const listing::PlacedText &t : layout.page(p)) {
            // QPainter places text by its baseline; the listing places it by its top.
            const QPoint at(t.x, t.y + metrics.ascent());
            const double scale =
                listing::widthScale(t.x, metrics.horizontalAdvance(t.text), printer.width());
            if (scale == 1.0) {
                painter.drawText(at, t.text);
            } else {
                painter.save();
                painter.translate(at);
                painter.scale(scale, 1.0);
                painter.drawText(QPoint(0, 0), t.text);
                painter.restore();
            }
        }
    }
    if (!painter.end())
        throw Exception(QStringLiteral("The print job could not be finished"));
}

} // namespace meridoc
