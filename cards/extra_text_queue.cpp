#include "extra_text_queue.h"

#include "commands.h"
#include "contact.h"
#include "extra_text_batch.h"

#include "data/commitjournal.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/files.h"
#include "data/text.h"

#include <QFile>
#include <QHashFunctions>
#include <QSet>

#include <unistd.h>

namespace meridoc::cards {

namespace {

void serialise(SpoolRecord &out, qint64 number, const QString &name, const QStringList &lines,
               bool lost) {
    out.clear();
    out.put(number);
    out.put(lost);
    out.putText(name);
    out.put(qint32(lines.size()));
    for (const QString &line : lines)
        out.putText(line);
}

struct Queued {
    qint64 number = 0;
    QString name;
    QStringList lines;
    bool lost = false;
};

Queued deserialised(const QByteArray &bytes) {
    SpoolRecordReader in(bytes);
    Queued q;
    q.number = in.get<qint64>();
    q.lost = in.get<bool>();
    q.name = in.text();
    for (auto lines = in.get<qint32>(); lines > 0; --lines)
        q.lines.append(in.text());
    return q;
}

} // namespace

ExtraTextQueue::ExtraTextQueue(const ApplicationState &folder, bool lostOnly)
    : folder_(folder), names_(std::in_place, folder), lostOnly_(lostOnly),
      order_(folder.ProgramDir), staged_(folder.ProgramDir) {}

ExtraTextQueue::~ExtraTextQueue() {
    if (committed_ || !stagedAny_)
        return;
    try {
        forEachStaged([](const QString &staged, const QString &) {
            ::unlink(QFile::encodeName(staged).constData());
        });
    } catch (const EInOutError &) { // a scratch file that cannot be read leaves them behind
    }
}

void ExtraTextQueue::add(qint64 number, const QString &name, const QStringList &lines) {
    // People of one name come again and again: whether the name has a file is looked up once.
    auto known = hasFile_.constFind(name);
    if (known == hasFile_.cend()) {
        if (hasFile_.size() >= 4096) // names that keep changing must not grow memory
            hasFile_.clear();
        known = hasFile_.insert(name, !names_->path(name).isEmpty());
    }
    const bool lost = !*known;
    serialise(record_, number, name, lines, lost);
    const QByteArray &bytes = record_.bytes();
    if (lost || !lostOnly_)
        order_.add(bytes);
    if (lost)
        return;
    // Names match without regard to letter case, so equal names meet in one partition.
    const std::size_t part = qHash(text::upperAscii(name)) % Partitions;
    if (!partitions_[part])
        partitions_[part] = std::make_unique<Spool>(folder_.ProgramDir);
    partitions_[part]->add(bytes);
}

void ExtraTextQueue::stage(bool write, bool replaceLabelled) {
    names_.reset();
    const ExtraTextFolder folder(folder_); // read again under the import's lock, then once only
    for (std::unique_ptr<Spool> &partition : partitions_) {
        if (!partition)
            continue;
        ExtraTextBatch batch(folder);
        QHash<QString, QString> firstHeadings; // of each extra text of the partition
        partition->rewind();
        while (const std::optional<QByteArray> bytes = partition->next()) {
            const Queued q = deserialised(*bytes);
            batch.add(q.name, q.lines);
            noteSharing(q.number, q.name, q.lines, firstHeadings);
        }
        partition.reset();
        batch.stage(write, replaceLabelled);
        appended_ += batch.appendedCount();
        for (const auto &[staged, target] : batch.takeStaged()) {
            record_.clear();
            record_.putText(staged);
            record_.putText(target);
            staged_.add(record_.bytes());
            stagedAny_ = true;
        }
    }
}

void ExtraTextQueue::record(CommitJournal &journal) {
    if (!stagedAny_)
        return;
    // The staged files reach the disk before the journal that lists them: one flush of each file
    // system they lie on (the folder's, or a linked file's elsewhere), where an fsync of each file
    // waited for the disk thousands of times.
    QSet<QString> dirs;
    forEachStaged(
        [&](const QString &, const QString &target) { dirs.insert(files::directoryOf(target)); });
    for (const QString &dir : std::as_const(dirs)) {
        try {
            files::syncFileSystem(dir);
        } catch (const EInOutError &e) {
            throw Failure(e.message(), dir);
        }
    }
    forEachStaged([&](const QString &staged, const QString &target) {
        try {
            journal.put(staged, target);
        } catch (const EInOutError &e) {
            throw Failure(e.message(), folder_.ProgramDir + files::CommitJournalName);
        }
    });
}

// Two people (names as written, in the line heading each one's lines) whose entries share one
// extra text: the later is told whose text it shares. The people of one partition are known
// together, so the names need not be remembered for the whole import.
// Two people of one name count too: their entries differ, and so do the identities of their
// entries that follow the headings.
void ExtraTextQueue::noteSharing(qint64 number, const QString &name, const QStringList &lines,
                                 QHash<QString, QString> &firstHeadings) {
    const QString heading = lines.value(0);
    if (!heading.startsWith(FullNameHeading))
        return;
    const QString key = text::upperAscii(name);
    const QString headed = heading + u'\n' + lines.value(1);
    const auto first = firstHeadings.constFind(key);
    if (first == firstHeadings.cend())
        firstHeadings.insert(key, headed);
    else if (*first != headed)
        sharing_.insert(
            number, QStringLiteral("shares the extra text %1 with %2, under its own %3")
                        .arg(name, first->section(u'\n', 0, 0).mid(FullNameHeading.size()),
                             first->section(u'\n', 0, 0) == heading ? QStringLiteral("entry ID")
                                                                    : QStringLiteral("full name")));
}

template <typename Use> void ExtraTextQueue::forEachStaged(Use use) {
    staged_.rewind();
    while (const std::optional<QByteArray> pair = staged_.next()) {
        SpoolRecordReader in(*pair);
        const QString staged = in.text();
        const QString target = in.text();
        use(staged, target);
    }
}

const ExtraTextQueue::Entry *ExtraTextQueue::entryOf(qint64 number) {
    if (!reading_) {
        order_.rewind();
        reading_ = true;
    }
    while (!current_ || current_->number < number) {
        const std::optional<QByteArray> bytes = order_.next();
        if (!bytes) {
            current_.reset();
            return nullptr;
        }
        Queued q = deserialised(*bytes);
        current_ = Entry{q.number, std::move(q.lines), q.lost};
    }
    return current_->number == number ? &*current_ : nullptr;
}

} // namespace meridoc::cards
