#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Lines added to people's extra-text files by an import, all or nothing: every changed file is
// first written beside its target and synced (stage), and put in place only once the card file
// is (commit). Anything staged but not committed is removed.
namespace meridoc::cards {

class ExtraTextBatch {
public:
    ExtraTextBatch();
    ~ExtraTextBatch();
    ExtraTextBatch(const ExtraTextBatch &) = delete;
    ExtraTextBatch &operator=(const ExtraTextBatch &) = delete;

    // Queues `lines` for the extra text of the person `name` (the name the viewer looks up).
    // Returns false when the name may not name an extra-text file.
    bool add(const QString &name, const QStringList &lines);

    // Loads each extra text (or starts an empty one), appends every queued group of lines that
    // it does not already hold, each line a paragraph, and (when `write`) writes the changed
    // ones as RTF to temporary files next to them. Throws Failure naming the file.
    void stage(bool write);
    // Renames every staged file over its target. Throws Failure naming the file.
    void commit();
    // The groups of lines stage() found missing from their extra texts.
    int appendedCount() const;

private:
    struct Target;
    std::vector<std::unique_ptr<Target>> targets_;
    QHash<QString, std::size_t> index_; // upper-cased name -> target
};

} // namespace meridoc::cards
