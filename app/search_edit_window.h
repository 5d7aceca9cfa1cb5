#pragma once

#include <QWidget>

#include <array>
#include <memory>

namespace Ui {
class TForm2;
}
class QFileSystemWatcher;
class QKeyEvent;

namespace meridoc {
class ResultsGrid;
}

// The search/edit window: the results of a search in a grid, the entry form for editing and
// adding entries, the extra-text viewer and editor, and printing. While it is on screen the main
// window is hidden; closing it brings the main window back. Of the main window it knows only
// that it is a window to hide and show; what to search for is handed over each time it is shown.
class TForm2 : public QWidget {
    Q_OBJECT

public:
    // `mainWindow` is hidden while this window is on screen and shown again when it closes.
    explicit TForm2(QWidget *mainWindow = nullptr, QWidget *parent = nullptr);
    ~TForm2() override;

    meridoc::ResultsGrid &grid() const { return *grid_; }

    // What the search looks for: the letter pad's text and whether it matches names.
    struct Search {
        QString text;
        bool byName = false;
    };

    // START SEARCH on the main window: show the window and its results view for `search`.
    void showForSearch(const Search &search);
    // NEW RECORD on the main window: the entry form, empty, in add mode, results hidden; the
    // (hidden) results are those of `search`. The caller hides the main window, then calls
    // showWindow().
    void prepareAddMode(const Search &search);
    // Makes the window visible and brings it to the front; showing it runs FormActivate.
    void showWindow();

    // Fills the grid from the current card file with the search last handed over, then selects
    // `rowToSelect` (the last result row when it lies past the end).
    void RunSearch(int rowToSelect);
    void ShowResultControls();
    void HideResultControls();

    // Window handlers.
    void FormActivate();
    void FormClose();
    void FormResize();
    void Button8Click(); // BACK

    // Entry editing.
    void Button3Click(); // EDIT
    void Button4Click(); // DONE
    void Button9Click(); // CANCEL
    void StringGrid1MouseDown(Qt::MouseButton button, const QPoint &viewportPos);
    void LeaveEntryForm();
    void RemoveResultRow(int row);

    // Extra text.
    void StringGrid1DblClick();
    void Button2Click(); // CLOSE TEXT
    void Button5Click(); // ADD/EDIT EXTRA TEXT
    void Button6Click(); // SAVE & EXIT
    bool Button7Click(); // CANCEL & EXIT; true when the editor closed

    // Printing.
    void Button1Click(); // PRINT

    // The card file changed on disk (another program wrote it): while the results are on screen
    // and no form, text or question is open, the search runs again with the same entry selected.
    void CardFileChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectHandlers();
    void setUpKeyboard();
    bool gridKeyDown(const QKeyEvent *key);
    void focusFirstShown();
    QString personOf(int row) const;
    QList<QWidget *> nextInFocusChainFrom(QWidget *first) const;
    // Deletes the entry of a result row after the question: the right click and the delete keys.
    void deleteEntryOfRow(int row);
    bool inAddMode() const { return addMode_; }
    // The results view: the hint, the grid, PRINT, EDIT and BACK.
    QList<QWidget *> resultControls() const;
    std::array<QString, 5> entryFormTexts() const;
    bool entryFormKeyDown(QObject *watched, QKeyEvent *event);
    bool gridMouseEvent(bool onCells, QEvent *event);
    bool askToCloseEditor(const QString &question);
    void closeEditor();
    // Notes the card file the search reads, and watches it and its folder for changes.
    void watchCardFile();
    bool resultsOnScreen() const;
    // A step that hid the focused control: the focus goes on along the tab order.
    void keepFocusShown();

    std::unique_ptr<Ui::TForm2> ui;
    std::unique_ptr<meridoc::ResultsGrid> grid_;
    QWidget *mainWindow_;
    Search search_;
    bool addMode_ = false; // the entry form was opened by NEW RECORD, not by EDIT
    QFileSystemWatcher *watcher_ = nullptr;
    std::array<qint64, 4> cardFileStamp_{}; // the card file as the last search found it
};
