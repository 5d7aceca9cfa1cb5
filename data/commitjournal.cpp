#include "commitjournal.h"

#include "errors.h"
#include "extratext.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc {
namespace {

// The journal is text: a header ("meridoc-journal 1 PID EXTENSION CARD-FILE"), then a line per
// file ("card STAGED INODE", "put STAGED TARGET", "remove PATH", "orphan KEY"), every field
// percent-encoded so that no name can break a line.
constexpr char Magic[] = "meridoc-journal";
constexpr qint64 BlockBytes = 64 << 10;

QByteArray encoded(const QString &path) {
    return QFile::encodeName(path).toPercentEncoding();
}

QString decodedPath(const QByteArray &field) {
    return QFile::decodeName(QByteArray::fromPercentEncoding(field));
}

QString journalPath(const QString &programDir) {
    return programDir + files::CommitJournalName;
}

bool exists(const QString &path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Whether the staged card file is still where it was staged, not yet renamed over the card file.
bool stillStaged(const QString &staged, quint64 inode) {
    struct stat st {};
    return ::lstat(QFile::encodeName(staged).constData(), &st) == 0 && quint64(st.st_ino) == inode;
}

void unlinkQuietly(const QString &path) {
    ::unlink(QFile::encodeName(path).constData());
}

// Calls `use` with the fields of each whole line of the file, read a block at a time; stops when
// `use` returns false.
template <typename Use> void forEachLine(const QString &path, Use use) {
    const files::File file = files::File::openForReading(path);
    QByteArray pending;
    qint64 at = 0;
    for (;;) {
        const qsizetype kept = pending.size();
        pending.resize(kept + BlockBytes);
        const qint64 n = file.readAt(pending.data() + kept, BlockBytes, at);
        pending.resize(kept + n);
        at += n;
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1) {
            if (!use(pending.mid(start, end - start).split(' ')))
                return;
        }
        pending.remove(0, start);
        if (n == 0)
            return;
    }
}

// What a journal's lines have told of its step so far.
struct Step {
    ApplicationState folder;
    bool replaced = true; // the card file was replaced (or the step replaces none)
    QString cardStaged;
    bool headed = false;
    bool putAny = false;
};

void carryOutLine(Step &step, const QList<QByteArray> &f) {
    const QByteArray &tag = f[0];
    if (tag == "card" && f.size() == 3) {
        step.cardStaged = decodedPath(f[1]);
        step.replaced = !stillStaged(step.cardStaged, f[2].toULongLong());
    } else if (tag == "put" && f.size() == 3) {
        const QString staged = decodedPath(f[1]), target = decodedPath(f[2]);
        if (!step.replaced) {
            unlinkQuietly(staged);
        } else if (::rename(QFile::encodeName(staged).constData(),
                            QFile::encodeName(target).constData()) != 0) {
            if (errno != ENOENT) // gone: put in place before the run was killed
                throw Exception(QStringLiteral("%1: %2").arg(
                    target, EInOutError::messageFor(EInOutError::codeFromErrno(errno))));
        } else if (!step.putAny) {
            step.putAny = true;
            CrashPoint("put");
        }
    } else if (tag == "remove" && f.size() == 2 && step.replaced) {
        const QString path = decodedPath(f[1]);
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
            throw Exception(QStringLiteral("%1: cannot remove the file").arg(path));
    } else if (tag == "orphan" && f.size() == 2 && step.replaced) {
        RemoveOrphanExtraText(step.folder, QByteArray::fromPercentEncoding(f[1]));
    }
}

// Finishes the step the journal of `programDir` lists, or undoes it when its card file was not
// replaced, then removes the journal. A file that is no journal under that name goes.
void carryOut(const QString &programDir) {
    const QString journal = journalPath(programDir);
    Step step;
    try {
        forEachLine(journal, [&](const QList<QByteArray> &f) {
            if (!step.headed) {
                step.headed = f.size() == 5 && f[0] == Magic && f[1] == "1";
                step.folder = {programDir, decodedPath(f.value(3)), decodedPath(f.value(4))};
                return step.headed;
            }
            carryOutLine(step, f);
            return true;
        });
        if (!step.replaced)
            unlinkQuietly(step.cardStaged);
        files::syncDirectory(programDir);
        if (::unlink(QFile::encodeName(journal).constData()) != 0 && errno != ENOENT)
            EInOutError::raiseFromErrno(errno);
        files::syncDirectory(programDir);
    } catch (const EInOutError &e) {
        throw Exception(QStringLiteral("%1: %2").arg(journal, e.message()));
    }
}

// Whether the run that wrote the journal still runs (it then finishes the step itself).
bool writerRuns(const QString &journal) {
    qint64 pid = 0;
    try {
        forEachLine(journal, [&](const QList<QByteArray> &f) {
            pid = f.size() == 5 && f[0] == Magic ? f[2].toLongLong() : 0;
            return false;
        });
    } catch (const EInOutError &) {
        return false;
    }
    return pid > 0 && pid != ::getpid() && (::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
}

} // namespace

CommitJournal::CommitJournal(const ApplicationState &folder) : folder_(folder) {}

CommitJournal::~CommitJournal() {
    if (written_ && !completed_ && !cardStaged_.isEmpty() && stillStaged(cardStaged_, cardInode_))
        unlinkQuietly(journalPath(folder_.ProgramDir));
}

void CommitJournal::line(const QByteArray &text) {
    if (!file_) {
        file_ = std::make_unique<files::ReplacementFile>(
            journalPath(folder_.ProgramDir), 0600,
            files::Replacement{files::Staging::Beside, files::Link::Replace, files::Flush::Each});
        buffer_ = QByteArray(Magic) + " 1 " + QByteArray::number(qint64(::getpid())) + ' ' +
                  encoded(folder_.CardExtension) + ' ' + encoded(folder_.CurrentFileName) + '\n';
    }
    buffer_ += text + '\n';
    ++lines_;
    if (buffer_.size() >= BlockBytes)
        writeOut();
}

void CommitJournal::writeOut() {
    file_->file().writeAt(buffer_.constData(), buffer_.size(), offset_);
    offset_ += buffer_.size();
    buffer_.clear();
}

void CommitJournal::cardFile(const QString &staged) {
    struct stat st {};
    if (::lstat(QFile::encodeName(staged).constData(), &st) != 0)
        EInOutError::raiseFromErrno(errno);
    cardStaged_ = staged;
    cardInode_ = quint64(st.st_ino);
    line("card " + encoded(staged) + ' ' + QByteArray::number(cardInode_));
}

void CommitJournal::put(const QString &staged, const QString &target) {
    line("put " + encoded(staged) + ' ' + encoded(target));
}

void CommitJournal::remove(const QString &path) {
    line("remove " + encoded(path));
}

void CommitJournal::removeOrphan(const QByteArray &key) {
    line("orphan " + key.toPercentEncoding());
}

void CommitJournal::seal() {
    // A new card file alone is replaced in one rename: it needs no journal.
    if (lines_ > (cardStaged_.isEmpty() ? 0 : 1)) {
        writeOut();
        file_->commit();
        written_ = true;
    }
    CrashPoint("sealed");
}

void CommitJournal::complete() {
    if (written_)
        carryOut(folder_.ProgramDir);
    completed_ = true;
}

void FinishInterruptedCommit(const QString &programDir, bool holdingLock) {
    const QString journal = journalPath(programDir);
    if (!exists(journal))
        return;
    if (holdingLock) {
        carryOut(programDir);
        return;
    }
    if (writerRuns(journal))
        return;
    try {
        files::DirectoryLock lock(programDir);
        if (exists(journal)) // unless another run finished it meanwhile
            carryOut(programDir);
    } catch (const EInOutError &e) {
        throw Exception(QStringLiteral("%1: %2").arg(programDir, e.message()));
    }
}

void CrashPoint(const char *point) {
    if (const QByteArray at = qgetenv("MERIDOC_CRASH_AT"); !at.isEmpty() && at == point)
        ::raise(SIGKILL);
}

} // namespace meridoc
