#pragma once

#include "appstate.h"
#include "files.h"

#include <QByteArray>
#include <QString>

#include <memory>

// A change of many files of the program folder made as one step: extra texts staged beside
// their targets, files to remove, and the new card file whose rename takes the step. Before the
// card file is replaced, a journal (files::CommitJournalName in the program folder, flushed)
// lists what the step does. A run that finds the journal of a run killed part-way finishes the
// step when the card file was replaced and removes what was staged when it was not; the staged
// files a journal lists are never removed as stale meanwhile. A step that replaces no card file
// is taken once its journal is written.
namespace meridoc {

class CommitJournal {
public:
    // A journal of the program folder of `folder` (whose card files decide on orphan texts).
    explicit CommitJournal(const ApplicationState &folder);
    // A journal sealed but not completed goes when its card file was not replaced (the step
    // failed before it was taken); otherwise it stays for the next run to complete.
    ~CommitJournal();
    CommitJournal(const CommitJournal &) = delete;
    CommitJournal &operator=(const CommitJournal &) = delete;

    // The new card file, staged at `staged` (a ReplacementFile's staged path): the step is taken
    // when it is renamed over the card file. Given before anything else, or not at all.
    void cardFile(const QString &staged);
    // A staged file (flushed) to be renamed over `target`.
    void put(const QString &staged, const QString &target);
    // A file to be removed.
    void remove(const QString &path);
    // The extra text of the name `key` (ExtraTextKey), removed unless a card file holds the name.
    void removeOrphan(const QByteArray &key);
    // Writes the journal and flushes it to disk (unless it lists the card file alone, whose
    // rename is one step already). Throws EInOutError.
    void seal();
    // Once the card file is replaced (right after seal() when there is none): puts the staged
    // files in place, removes the files, then the journal. Throws Exception naming the file.
    void complete();

private:
    void line(const QByteArray &text);
    void writeOut();

    ApplicationState folder_;
    std::unique_ptr<files::ReplacementFile> file_; // the journal, staged until sealed
    QByteArray buffer_;                            // lines not written yet
    qint64 offset_ = 0;
    int lines_ = 0;
    QString cardStaged_;
    quint64 cardInode_ = 0;
    bool written_ = false, completed_ = false;
};

// Finishes or undoes the step a run killed part-way left in `programDir`, if any. Unless
// `holdingLock` (the caller holds files::DirectoryLock of the folder), a step whose run still
// goes on is left to it, and the lock is taken for the rest. Throws Exception naming the file.
void FinishInterruptedCommit(const QString &programDir, bool holdingLock);

// Ends the process at once when the environment variable MERIDOC_CRASH_AT names `point`: kills a
// run at each step of its commit, for the tests of what the next run does.
void CrashPoint(const char *point);

} // namespace meridoc
