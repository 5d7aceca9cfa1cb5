#include "results_grid.h"

#include "data/text.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QStyleHints>
#include <QTableView>

#include <algorithm>

namespace meridoc {
namespace {

const std::array<QString, ResultsGrid::Columns> HeaderTexts = {
    QStringLiteral("NAME"), QStringLiteral("SURNAME"), QStringLiteral("PHONE1"),
    QStringLiteral("PHONE2"), QStringLiteral("COMMENTS")};

constexpr std::array<int, ResultsGrid::Columns> ColumnWidths = {85, 87, 88, 90, 170};
constexpr int RowHeight = 24;

EntryRecord noMatchRecord() {
    EntryRecord r;
    r.setField(Field::COMMENTS, text::toCp1252(ResultsGrid::NoMatchText));
    return r;
}

} // namespace

const QString ResultsGrid::NoMatchText = QStringLiteral("No matching entries found.");

int ResultsModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ResultsGrid::Columns;
}

QVariant ResultsModel::data(const QModelIndex &index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return text::fromCp1252(rows_[index.row()].field(static_cast<Field>(index.column())));
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ResultsGrid::Columns)
        return {};
    return HeaderTexts[section];
}

ResultsGrid::ResultsGrid(QTableView *view) : view_(view), model_(new ResultsModel(view)) {
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setShowGrid(true);
    view_->setTabKeyNavigation(false); // Tab moves on to the next control, not the next cell
    view_->setWordWrap(false);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(RowHeight);
    view_->horizontalHeader()->setFixedHeight(RowHeight);
    view_->horizontalHeader()->setHighlightSections(false);
    view_->horizontalHeader()->setSectionsClickable(false);
    view_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view_->horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < Columns; ++c)
        view_->setColumnWidth(c, ColumnWidths[c]);
    reset();
}

int ResultsGrid::rowCount() const {
    return static_cast<int>(model_->rows().size()) + 1;
}

int ResultsGrid::rowOf(const EntryKey &entry) const {
    if (!filled_)
        return -1;
    const auto &rows = model_->rows();
    const auto found = std::find_if(rows.begin(), rows.end(),
                                    [&](const EntryRecord &r) { return entry.matches(r); });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin()) + 1;
}

QString ResultsGrid::cell(int column, int row) const {
    if (column < 0 || column >= Columns || row < 0 || row >= rowCount())
        return {};
    if (row == 0)
        return HeaderTexts[column];
    return text::fromCp1252(model_->rows()[row - 1].field(static_cast<Field>(column)));
}

std::array<QString, ResultsGrid::Columns> ResultsGrid::rowCells(int row) const {
    std::array<QString, Columns> cells;
    for (int c = 0; c < Columns; ++c)
        cells[c] = cell(c, row);
    return cells;
}

int ResultsGrid::currentRow() const {
    const QModelIndex current = view_->currentIndex();
    return current.isValid() ? current.row() + 1 : 1;
}

void ResultsGrid::setCurrentRow(int row) {
    row = std::clamp(row, 1, rowCount() - 1);
    const QModelIndex index = model_->index(row - 1, 0);
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    view_->scrollTo(index);
}

int ResultsGrid::rowAt(const QPoint &viewportPos) const {
    const int modelRow = view_->rowAt(viewportPos.y());
    if (modelRow < 0 || view_->columnAt(viewportPos.x()) < 0)
        return -1;
    return modelRow + 1;
}

void ResultsGrid::reset() {
    beginFill();
    model_->rows().assign(1, noMatchRecord());
    filled_ = false;
    endFill();
}

void ResultsGrid::beginFill() {
    model_->beginChange();
}

void ResultsGrid::endFill() {
    model_->endChange();
    setCurrentRow(currentRow());
}

void ResultsGrid::removeEntryRows(int row, const EntryKey &key) {
    auto &rows = model_->rows();
    if (!filled_ || row < 1 || row >= rowCount())
        return;
    const auto before = std::count_if(rows.begin(), rows.begin() + (row - 1),
                                      [&](const EntryRecord &r) { return key.matches(r); });
    model_->beginChange();
    std::erase_if(rows, [&](const EntryRecord &r) { return key.matches(r); });
    if (rows.empty()) {
        rows.assign(1, noMatchRecord());
        filled_ = false;
    }
    model_->endChange();
    setCurrentRow(row - static_cast<int>(before)); // past the end: the new last row
}

void ResultsGrid::notePress(const QMouseEvent &press) {
    lastPress_ = press.timestamp();
}

bool ResultsGrid::doubleClickBeganHere(const QMouseEvent &doubleClick) const {
    // The second press of a double click arrives as the double click itself, so the grid's last
    // press is the first one when the double click began here.
    const auto interval =
        static_cast<quint64>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    return lastPress_ && *lastPress_ <= doubleClick.timestamp() &&
           doubleClick.timestamp() - *lastPress_ <= interval;
}

} // namespace meridoc
