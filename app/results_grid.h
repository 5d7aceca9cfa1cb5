#pragma once

#include "data/entryrecord.h"

#include <QAbstractTableModel>
#include <QPoint>
#include <QString>

#include <array>
#include <optional>
#include <span>
#include <vector>

class QMouseEvent;
class QTableView;

namespace meridoc {

// The rows of the results grid: a table model over the records found, so that listing a large
// card file costs one record copy per entry and no per-cell objects. Texts are made only when a
// cell is shown.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    std::vector<EntryRecord> &rows() { return rows_; }
    const std::vector<EntryRecord> &rows() const { return rows_; }
    void beginChange() { beginResetModel(); }
    void endChange() { endResetModel(); }

private:
    std::vector<EntryRecord> rows_;
};

// The results grid as the search/edit window uses it. Row numbers follow the classic grid: row 0
// is the fixed header ("NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"), rows 1 to
// rowCount() - 1 hold the results, and the current row is the selected entry. When nothing
// matched, row 1 is the no-match row whose COMMENTS cell reads "No matching entries found.".
class ResultsGrid {
public:
    static constexpr int Columns = 5;
    static const QString NoMatchText;

    explicit ResultsGrid(QTableView *view);

    int rowCount() const;
    // The text of a cell, exactly as stored; row 0 gives the header texts.
    QString cell(int column, int row) const;
    std::array<QString, Columns> rowCells(int row) const;

    int currentRow() const;
    // The first result row listing `entry` (all five fields equal); -1 when none does.
    int rowOf(const EntryKey &entry) const;
    // Selects a result row; a row past the last one selects the last, one before the first the
    // first.
    void setCurrentRow(int row);
    // The row of the cell under a point of the view's viewport; -1 where no cell is (below the
    // last row, or in the strip right of the last column).
    int rowAt(const QPoint &viewportPos) const;

    // Empties the grid to the header and the no-match row.
    void reset();
    // Adds one result; the first replaces the no-match row.
    void addResult(const EntryRecord &record) {
        if (filled_) {
            model_->rows().push_back(record);
        } else {
            model_->rows().front() = record;
            filled_ = true;
        }
    }
    // Adds a run of results at once.
    void addResults(std::span<const EntryRecord> records) {
        if (records.empty())
            return;
        if (!filled_) {
            model_->rows().clear();
            filled_ = true;
        }
        model_->rows().insert(model_->rows().end(), records.begin(), records.end());
    }
    // Makes room for that many results, so a large listing is not moved while it grows.
    void reserve(std::size_t results) { model_->rows().reserve(results); }
    // Starts and ends a batch of addResult calls; the view is refreshed once at the end.
    void beginFill();
    void endFill();

    // Removes every result row of one entry (all five fields equal to `key`), as a deletion
    // removes every record of it from the card file. `row` is the row the deletion was made on:
    // the row that followed it is selected, or the new last row. When no result is left, the
    // grid shows the no-match row.
    void removeEntryRows(int row, const EntryKey &key);

    // Mouse presses on the grid (cells or header). A double click counts only when its first
    // press reached the grid too: one that began on a control that then vanished from under the
    // pointer (and uncovered the grid) does not.
    void notePress(const QMouseEvent &press);
    bool doubleClickBeganHere(const QMouseEvent &doubleClick) const;
    void forgetPresses() { lastPress_.reset(); }

    QTableView *view() const { return view_; }

private:
    QTableView *view_;
    ResultsModel *model_;
    bool filled_ = false;              // whether row 1 holds a result rather than the no-match row
    std::optional<quint64> lastPress_; // the time of the last press on the grid
};

} // namespace meridoc
