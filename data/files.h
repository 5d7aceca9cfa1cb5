#pragma once

#include "foldernames.h"

#include <QString>
#include <QStringList>
#include <sys/types.h>

// File access: descriptors that report every failure, the one way a file is replaced, and the
// lock of the program directory. Names inside the program directory are resolved by
// foldernames.h.
namespace meridoc::files {

// A path's file permission bits grant nobody write access: the file is read-only.
bool isReadOnly(const QString &path);

// Owns one POSIX file descriptor; every failing call throws meridoc::EInOutError.
class File {
public:
    File() = default;
    ~File();
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    // Opens an existing file for reading and writing; a read-only file is refused with "File
    // access denied" even when the process could override the permission bits. Like
    // openForReading, only a regular file is opened.
    static File openExisting(const QString &path);
    // Opens an existing file for reading only. Anything but a regular file (a directory, a pipe,
    // a device, a socket) is refused with "File access denied" without waiting on it.
    static File openForReading(const QString &path);
    // Creates the file or truncates an existing one, for reading and writing.
    static File create(const QString &path, mode_t mode = 0644);
    // Takes ownership of an open descriptor.
    static File adopt(int fd) { return File(fd); }

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    qint64 size() const;
    mode_t mode() const;
    // Reads up to `length` bytes at `offset`; returns the number read (0 at the end).
    qint64 readAt(void *buffer, qint64 length, qint64 offset) const;
    // Reads exactly `length` bytes at `offset`; a short read is "Read beyond end of file".
    void readExactlyAt(void *buffer, qint64 length, qint64 offset) const;
    // Reads from the start to the end of the file, but no more than `limit` + 1 bytes, so a caller
    // can tell a file longer than `limit`.
    QByteArray readAll(qint64 limit);
    void writeAt(const void *buffer, qint64 length, qint64 offset);
    void sync();
    void close();

private:
    explicit File(int fd) : fd_(fd) {}
    static File openRegular(const QString &path, int access);
    int fd_ = -1;
};

// The permission bits a new file created with `mode` gets under the process's umask.
mode_t newFileMode(mode_t mode);

// Where the new content of a file waits until it takes the target's place.
enum class Staging {
    // "temp.tmp" in the target's directory: a stale one (not a directory) is replaced. For
    // writes done one at a time under the directory lock.
    TempTmp,
    // A file of its own beside the target, under a staged name (see isStagedName()), so that
    // many can wait at once and stale ones from a killed run are recognised.
    Beside,
};
// What happens to a target that is a symbolic link.
enum class Link {
    Follow,  // a link to a regular file stays a link: the file it points to is replaced
    Replace, // the link itself is replaced by a file of its own
};

// When the staged content reaches the disk.
enum class Flush {
    Each, // finish() flushes the file
    // The caller flushes many staged files at once with syncFileSystem() before putting any in
    // place: one flush for an import's thousands of extra texts instead of one each.
    Together,
};

struct Replacement {
    Staging staging = Staging::TempTmp;
    Link link = Link::Follow;
    Flush flush = Flush::Each;
};

// The one way a file is replaced: the new content is written to a staged file, given its mode,
// flushed to disk, and renamed over the target, then the directory is synced, so the target is
// replaced whole or not at all. The staged file is created exclusively and without following a
// link, writable by its owner only, and removed when the object goes away uncommitted.
//
// The target (after following a link, when asked) is refused with "File access denied" before
// anything is written when it is a directory, not a regular file, or read-only (its permission
// bits grant nobody write), even when the process could override the bits.
class ReplacementFile {
public:
    // `mode` is the permission the new file gets just before it takes the target's place.
    ReplacementFile(const QString &target, mode_t mode, Replacement how = {});
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    File &file() { return file_; }
    // What the rename replaces: the target, or the file its link points to.
    const QString &target() const { return target_; }
    // Where the new content waits until the rename.
    const QString &stagedPath() const { return path_; }
    // Gives the file its mode, flushes it to disk (unless Flush::Together) and closes it.
    void finish();
    // finish() unless done, then the rename over the target and, unless `syncLater` (the caller
    // then syncs the directory once for many renames), a sync of its directory.
    void commit(bool syncLater = false);
    // finish() unless done, then hands the staged file over: its path is returned and the object
    // no longer removes it. The caller puts it in place with putInPlace() or removes it.
    QString release();

private:
    QString path_;
    QString target_;
    mode_t mode_;
    Flush flush_;
    File file_;
    bool committed_ = false;
};

// The mode a replaced file keeps: that of the existing `target` (followed through a link), or for
// a new file `mode` under the process's umask.
mode_t modeFor(const QString &target, mode_t mode = 0666);

// The journal of a step that changes many files of the program folder at once (see
// commitjournal.h); it lists staged files that the step still needs.
inline const QString CommitJournalName = QStringLiteral("meridoc.journal");

// Whether `name` is the name of a file staged by ReplacementFile (Staging::Beside).
bool isStagedName(const QByteArray &name);
// Removes the staged files in `dir` whose writing process has ended (killed part-way), and never
// any other file; none while `dir` holds a journal, whose run finishes or removes them. Failures
// are ignored: the files are removed by a later run.
void removeStaleStagedFiles(const QString &dir);

// Replaces `target` by `source` atomically (rename(2)), then syncs the directory.
void replaceFile(const QString &source, const QString &target);
// Renames a released staged file over its target; the caller syncs the directory afterwards, once
// for many.
void putInPlace(const QString &staged, const QString &target);
// Syncs a directory so that a rename or a new entry in it reaches the disk.
void syncDirectory(const QString &dir);
// Flushes everything written to the file system that holds `dir` (syncfs(2)): the staged files of
// Flush::Together, before they are put in place.
void syncFileSystem(const QString &dir);

// Holds an exclusive advisory lock on the program directory while a changing operation runs,
// so two running copies of the program never interleave their writes. Nested locks in the same
// process share the outer one. A directory that cannot be locked throws EInOutError, so the
// change is refused rather than run unguarded.
class DirectoryLock {
public:
    explicit DirectoryLock(const QString &dir);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

private:
    int fd_ = -1;
};

} // namespace meridoc::files
