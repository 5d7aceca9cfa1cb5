#pragma once

#include "note_spool.h"

#include "data/appstate.h"
#include "data/extratext.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>

namespace meridoc {
class CommitJournal;
}

namespace meridoc::cards {

// The lines an import gives people's extra texts, kept in scratch files instead of memory: in
// input order for the report, and spread by name over partitions, so that staging holds the
// extra texts of one partition at a time and memory does not grow with the number of contacts.
// Staged files are listed in a scratch file too; the ones not handed over are removed.
class ExtraTextQueue {
public:
    struct Entry {
        qint64 number = -1; // the contact's place among all contacts read
        QStringList lines;
        bool lost = false; // the name may not name an extra-text file
    };

    // The extra texts of `folder`; scratch files go to its program folder. With `lostOnly`,
    // entryOf() gives only the entries whose lines are lost (all a report of a done import
    // shows of them), and the others are not kept in input order at all.
    explicit ExtraTextQueue(const ApplicationState &folder, bool lostOnly = false);
    ~ExtraTextQueue();
    ExtraTextQueue(const ExtraTextQueue &) = delete;
    ExtraTextQueue &operator=(const ExtraTextQueue &) = delete;

    // Queues the lines of contact `number` (numbers increase) for the extra text `name`.
    void add(qint64 number, const QString &name, const QStringList &lines);
    // Appends to each extra text what it does not hold yet and (when `write`) writes the
    // changed ones beside their targets (see ExtraTextBatch). Throws Failure naming the file.
    void stage(bool write, bool replaceLabelled = false);
    // Lists every staged file in `journal`, flushed to disk first. Throws Failure.
    void record(CommitJournal &journal);
    // The journal has taken the staged files: they are no longer removed with the queue.
    void handOver() { committed_ = true; }
    // The groups of lines stage() found missing from their extra texts.
    int appendedCount() const { return appended_; }
    // What the report says of contact `number` sharing its extra text with another person, once
    // staged; empty when it does not.
    QString sharingOf(qint64 number) const { return sharing_.value(number); }
    // What contact `number` gives its extra text, if anything (with `lostOnly`: if it is lost);
    // asked in increasing order.
    const Entry *entryOf(qint64 number);

private:
    void noteSharing(qint64 number, const QString &name, const QStringList &lines,
                     QHash<QString, QString> &firstHeadings);
    // Hands each staged file and its target to `use`, in the order they were staged.
    template <typename Use> void forEachStaged(Use use);

    static constexpr int Partitions = 64;
    ApplicationState folder_;
    std::optional<ExtraTextFolder> names_; // the folder as it was when the queue was made
    QHash<QString, bool> hasFile_;         // names looked up in it: whether they may have a file
    bool lostOnly_;
    Spool order_; // the entries entryOf() gives, in input order
    std::array<std::unique_ptr<Spool>, Partitions> partitions_;
    Spool staged_;       // staged file and target, one pair a record
    SpoolRecord record_; // the record being written
    bool stagedAny_ = false;
    bool committed_ = false;
    int appended_ = 0;
    QHash<qint64, QString> sharing_; // contact number -> remark, for the few who share
    bool reading_ = false;
    std::optional<Entry> current_;
};

} // namespace meridoc::cards
