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
    // access denied" even when the process could override the permission bits.
    static File openExisting(const QString &path);
    // Opens an existing file for reading only.
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
    void writeAt(const void *buffer, qint64 length, qint64 offset);
    void sync();
    void close();

private:
    explicit File(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Replaces `target` by `source` atomically (rename(2)), then syncs the directory.
void replaceFile(const QString &source, const QString &target);
// Syncs a directory so that a rename or a new entry in it reaches the disk.
void syncDirectory(const QString &dir);

// Holds an exclusive advisory lock on the program directory while a changing operation runs,
// so two running copies of the program never interleave their writes. Nested locks in the same
// process share the outer one.
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
