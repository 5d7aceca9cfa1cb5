#pragma once

#include "data/extratext.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

// Lines added to people's extra-text files by an import, all or nothing: every changed file is
// first written beside its target (stage), and put in place only with the card file, through the
// import's CommitJournal. Anything staged and not taken is removed.
namespace meridoc::cards {

class ExtraTextBatch {
public:
    // `folder` is the program folder as read under the lock the import holds.
    explicit ExtraTextBatch(const ExtraTextFolder &folder);
    ~ExtraTextBatch();
    ExtraTextBatch(const ExtraTextBatch &) = delete;
    ExtraTextBatch &operator=(const ExtraTextBatch &) = delete;

    // Queues `lines` for the extra text of the person `name` (the name the viewer looks up).
    // Returns false when the name may not name an extra-text file.
    bool add(const QString &name, const QStringList &lines);

    // Loads each extra text (or starts an empty one), appends every queued group of lines that
    // it does not already hold, each line a paragraph, and (when `write`) writes the changed
    // ones as RTF to temporary files next to them. Throws Failure naming the file.
    // With `replaceLabelled` (an import with --update), a group's labelled lines replace those
    // of the same labels among the person's lines (see MergeIntoSection), unless the text holds
    // pictures, links or objects that writing it anew would lose: it is then appended to.
    void stage(bool write, bool replaceLabelled = false);
    // The staged files with their targets, which this batch then no longer removes.
    QList<std::pair<QString, QString>> takeStaged();
    // The groups of lines stage() found missing from their extra texts.
    int appendedCount() const;

private:
    struct Target;
    const ExtraTextFolder &folder_;
    std::vector<std::unique_ptr<Target>> targets_;
    QHash<QString, std::size_t> index_; // upper-cased name -> target
};

} // namespace meridoc::cards
