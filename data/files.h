#pragma once

#include <QString>
#include <QStringList>
#include <sys/types.h>

// File access inside the program directory. Names there are matched without regard to ASCII
// letter case, the way the program has always treated its files; every operation that takes a
// name goes through resolve() so "TANRO.CRD", "tanro.crd" and "Tanro.Crd" name one file.
namespace meridoc::files {

// The path of `name` inside `dir` (which ends with '/'): an exact match wins, otherwise the
// first non-directory entry, in byte order of names, that equals `name` ignoring a-z/A-Z case;
// when nothing matches, `dir` + `name` as given (so a new file gets the spelling given here).
QString resolve(const QString &dir, const QString &name);

// True when a file (not a directory) of that name exists in `dir`, matched as resolve() does.
bool fileExists(const QString &dir, const QString &name);

// Names of the files in `dir` whose extension equals `extension` ignoring case, sorted.
QStringList listWithExtension(const QString &dir, const QString &extension);

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

// The new content of `target`, written to a temporary file and put in the target's place by one
// atomic rename, so the target is replaced whole or not at all. The temporary file is "temp.tmp"
// in the target's directory: a stale one that is not a directory is removed first (one that is a
// directory is refused), and it is created exclusively and without following a link, writable by
// its owner only. A target that is a symbolic link to a regular file stays a link: the content
// goes beside the file it points to, under a temporary name of its own there, and replaces that
// file. Until commit() the temporary file is removed when the object goes away.
class ReplacementFile {
public:
    // `mode` is the permission the new file gets just before it takes the target's place.
    ReplacementFile(const QString &target, mode_t mode);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    File &file() { return file_; }
    // Gives the file its mode, flushes it to disk and closes it.
    void finish();
    // finish() unless done, then the rename over the target and a sync of its directory.
    void commit();

private:
    QString path_;
    QString target_; // what the rename replaces: the target, or the file its link points to
    mode_t mode_;
    File file_;
    bool committed_ = false;
};

// A new, empty file beside `target` ("." + its name + a random suffix), created exclusively, so
// nothing already there is followed or overwritten; readable and writable by its owner only. Sets
// `path` to its path. For content that is to replace `target` later by replaceFile().
File newFileBeside(const QString &target, QString &path);

// Replaces `target` by `source` atomically (rename(2)), then syncs the directory.
void replaceFile(const QString &source, const QString &target);
// Syncs a directory so that a rename or a new entry in it reaches the disk.
void syncDirectory(const QString &dir);

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
