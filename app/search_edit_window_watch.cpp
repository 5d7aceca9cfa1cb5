// The search/edit window keeps its results current: another program (a sync round, a second copy
// of MERIDOC) may write the card file while the results are on screen.
#include "search_edit_window.h"

#include "data/appstate.h"
#include "data/entryrecord.h"
#include "data/text.h"
#include "guard.h"
#include "results_grid.h"
#include "ui_search_edit_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <sys/stat.h>

using namespace meridoc;

namespace {

// What tells one state of a file from the next: its identity (a replacing rename gives a new
// one), size and time of change; all zero when it is missing.
std::array<qint64, 4> stampOf(const QString &path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec),
            qint64(st.st_mtim.tv_nsec)};
}

} // namespace

void TForm2::watchCardFile() {
    const QString path = CardFilePath();
    cardFileStamp_ = stampOf(path);
    if (!watcher_) {
        watcher_ = new QFileSystemWatcher(this);
        const auto changed = [this] { guarded(this, [this] { CardFileChanged(); }); };
        connect(watcher_, &QFileSystemWatcher::fileChanged, this, changed);
        connect(watcher_, &QFileSystemWatcher::directoryChanged, this, changed);
    }
    // The folder shows a card file replaced by a rename, the file a change written into it. A
    // replaced file loses its watch, so the watch is set again on every search.
    const QStringList watched = watcher_->files() + watcher_->directories();
    for (const QString &old : watched) {
        if (old != path && old != AppState.ProgramDir)
            watcher_->removePath(old);
    }
    for (const QString &wanted : {path, AppState.ProgramDir}) {
        if (!watched.contains(wanted) && QFileInfo::exists(wanted))
            watcher_->addPath(wanted);
    }
}

bool TForm2::resultsOnScreen() const {
    return isVisible() && ui->StringGrid1->isVisibleTo(this) && !ui->GroupBox1->isVisibleTo(this) &&
           !ui->GroupBox2->isVisibleTo(this) && !ui->RichEdit1->isVisibleTo(this);
}

void TForm2::CardFileChanged() {
    if (!resultsOnScreen())
        return; // the return to the results looks again
    if (QApplication::activeModalWidget()) {
        // A question is open over the results (a deletion's): they change only once it is
        // answered.
        QTimer::singleShot(250, this, [this] { guarded(this, [this] { CardFileChanged(); }); });
        return;
    }
    if (stampOf(CardFilePath()) == cardFileStamp_) {
        watchCardFile(); // only the folder changed (another file), or the file's watch was lost
        return;
    }
    const int row = grid_->currentRow();
    const auto cells = grid_->rowCells(row);
    std::array<QByteArray, FieldCount> fields;
    for (int i = 0; i < FieldCount; ++i)
        fields[i] = text::toCp1252(cells[i]);
    const EntryKey selected(EntryRecord::fromFields(fields));
    RunSearch(row);
    if (const int same = grid_->rowOf(selected); same > 0)
        grid_->setCurrentRow(same);
}
