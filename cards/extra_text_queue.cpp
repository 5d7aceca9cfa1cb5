#include "extra_text_queue.h"

#include "commands.h"
#include "extra_text_batch.h"

#include "data/errors.h"
#include "data/extratext.h"
#include "data/files.h"
#include "data/text.h"

#include <QDataStream>
#include <QFile>
#include <QHashFunctions>
#include <QIODevice>
#include <QSet>

#include <unistd.h>

namespace meridoc::cards {

namespace {

// Lines are kept as UTF-8: half the size of UTF-16 for most text.
QByteArray serialised(qint64 number, const QString &name, const QStringList &lines, bool lost) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    QByteArrayList utf8;
    for (const QString &line : lines)
        utf8.append(line.toUtf8());
    out << number << name.toUtf8() << utf8 << lost;
    return bytes;
}

struct Queued {
    qint64 number = 0;
    QString name;
    QStringList lines;
    bool lost = false;
};

Queued deserialised(const QByteArray &bytes) {
    QDataStream in(bytes);
    Queued q;
    QByteArray name;
    QByteArrayList utf8;
    in >> q.number >> name >> utf8 >> q.lost;
    if (in.status() != QDataStream::Ok)
        throw EInOutError(ioerror::ReadBeyondEnd);
    q.name = QString::fromUtf8(name);
    for (const QByteArray &line : utf8)
        q.lines.append(QString::fromUtf8(line));
    return q;
}

} // namespace

ExtraTextQueue::ExtraTextQueue(const ApplicationState &folder)
    : folder_(folder), names_(std::in_place, folder), order_(folder.ProgramDir),
      staged_(folder.ProgramDir) {}

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
    const bool lost = names_->path(name).isEmpty();
    const QByteArray bytes = serialised(number, name, lines, lost);
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
            noteSharing(q.number, q.name, q.lines.value(0), firstHeadings);
        }
        partition.reset();
        batch.stage(write, replaceLabelled);
        appended_ += batch.appendedCount();
        for (const auto &[staged, target] : batch.takeStaged()) {
            QByteArray pair;
            QDataStream out(&pair, QIODevice::WriteOnly);
            out << staged << target;
            staged_.add(pair);
            stagedAny_ = true;
        }
    }
}

void ExtraTextQueue::commit() {
    if (stagedAny_) {
        // The staged files reach the disk before any takes its target's place: one flush of
        // each file system they lie on (the folder's, or a linked file's elsewhere), where an
        // fsync of each file waited for the disk thousands of times.
        QSet<QString> dirs;
        forEachStaged([&](const QString &, const QString &target) {
            dirs.insert(files::directoryOf(target));
        });
        for (const QString &dir : std::as_const(dirs)) {
            try {
                files::syncFileSystem(dir);
            } catch (const EInOutError &e) {
                throw Failure(e.message(), dir);
            }
        }
        forEachStaged(ExtraTextBatch::putInPlace);
    }
    committed_ = true;
    try {
        files::syncDirectory(folder_.ProgramDir); // every rename at once
    } catch (const EInOutError &e) {
        throw Failure(e.message(), folder_.ProgramDir);
    }
}

// Two people (names as written, in the line heading each one's lines) whose entries share one
// extra text: the later is told whose text it shares. The people of one partition are known
// together, so the names need not be remembered for the whole import.
void ExtraTextQueue::noteSharing(qint64 number, const QString &name, const QString &heading,
                                 QHash<QString, QString> &firstHeadings) {
    if (!heading.startsWith(QLatin1String("Full name: ")))
        return;
    const QString key = text::upperAscii(name);
    const auto first = firstHeadings.constFind(key);
    if (first == firstHeadings.cend())
        firstHeadings.insert(key, heading);
    else if (*first != heading)
        sharing_.insert(number, QStringLiteral("shares the extra text %1 with %2, under its own "
                                               "full name")
                                    .arg(name, first->mid(int(qstrlen("Full name: ")))));
}

template <typename Use> void ExtraTextQueue::forEachStaged(Use use) {
    staged_.rewind();
    while (const std::optional<QByteArray> pair = staged_.next()) {
        QDataStream in(*pair);
        QString staged, target;
        in >> staged >> target;
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
