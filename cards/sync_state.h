#pragma once

#include "data/entryrecord.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// What the last sync left a sync folder and a card file agreeing on, kept in the folder's hidden
// state folder, so that the next round can tell which side changed what.
namespace meridoc::cards {

// The state folder inside a sync folder; a sync engine only looks at the folder's *.vcf files.
inline const QString SyncStateFolderName = QStringLiteral(".meridoc-sync");

// A file of the folder as it was seen: when size, time and inode are the same, its content is.
struct FileStamp {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    bool operator==(const FileStamp &) const = default;
    bool isNone() const { return size < 0; }
};
// Whether a symbolic link is followed to the file it names.
enum class Links { Follow, NotFollowed };
// The stamp of a file; a none stamp when there is no regular file (a link counts as none unless
// followed: the sync folder's and the state's files are never read or written through one).
FileStamp StampOf(const QString &path, Links links = Links::NotFollowed);
// The same for the file `name` of the open directory `dirFd`.
FileStamp StampAt(int dirFd, const char *name, Links links = Links::NotFollowed);

// One contact as both sides held it after the last round.
struct SyncedContact {
    QString uid;
    QString file;       // its vCard's name in the folder
    FileStamp fileSeen; // the vCard file as the round left it
    QByteArray vhash;   // hash of what the card file takes from that vCard (its projection)
    QByteArray key;     // the entry's fields as stored (Windows-1252), as FieldsKey gives them
    std::array<QByteArray, FieldCount> fields() const;
    QStringList lines;  // the entry's lines of its extra text, as the mapping gives them
    FileStamp textSeen; // the extra-text file as the round left it; none when there was none
    // Its line in the state file it was read from (a view into that SyncState's `read`), which
    // SyncStateBytes writes again as it is. Whoever changes a contact read from a state empties it.
    QByteArrayView asRead;
};

struct SyncState {
    QString cardFile; // the card file's base name the folder is synced with
    std::vector<SyncedContact> contacts;
    QByteArray read; // the file's bytes as read: the contacts' `asRead` lines are in it
};

// Throws Failure when the state folder of `folder` (or the folder of its unpushed vCards) is
// there but not a folder of its own: a symbolic link (the state would go where it leads) or a file.
void CheckStateFolder(const QString &folder);

// Reads the regular file `path` whole, never through a symbolic link nor waiting on a pipe; one
// over `limit` bytes is refused, with `tooLong` as the reason, before anything is read. Throws
// Failure.
QByteArray ReadOwnFile(const QString &path, qint64 limit, const QString &tooLong);

// The state of `folder`, nothing when it has none yet. Throws Failure for a state that cannot be
// read or is not one this program wrote.
std::optional<SyncState> ReadSyncState(const QString &folder);
// Writes the state whole or not at all (the state folder is made when missing).
void WriteSyncState(const QString &folder, const SyncState &state);
// The same for a state's bytes (SyncStateBytes).
void WriteSyncStateBytes(const QString &folder, const QByteArray &bytes);

// The five fields as one key (each field's length byte, then its bytes): equal keys, the same
// entry.
QByteArray FieldsKey(const std::array<QByteArray, FieldCount> &fields);
// The fields of such a key.
std::array<QByteArray, FieldCount> FieldsOfKey(QByteArrayView key);
// The key of a record's fields, made straight from its bytes.
QByteArray KeyOfRecord(const EntryRecord &record);
// Appends that key to `key`; it takes at most EntryRecord::Size bytes.
void AppendKeyOfRecord(QByteArray &key, const EntryRecord &record);
// NAME and SURNAME, in place in a key.
std::pair<QByteArrayView, QByteArrayView> NameOfKey(QByteArrayView key);

// The bytes of the state as written (compared with the old ones to write nothing needlessly).
QByteArray SyncStateBytes(const SyncState &state);

// The vCards a round replaced, as they were before it, kept in the state folder until vdirsyncer
// has pushed the round: a conflict it finds meanwhile (the phone changed the contact too) is
// merged against that version, the last one both sides had.
// Keeps `bytes` as the version before the round of the vCard with `uid`, unless one is kept.
void KeepUnpushed(const QString &folder, const QString &uid, const QByteArray &bytes);
// The kept version of the vCard with `uid`, if any.
std::optional<QByteArray> Unpushed(const QString &folder, const QString &uid);
// Removes the files a round killed part-way staged in the state folder (the state, the removed
// contacts, the unpushed and last-seen versions); a state folder that is a link is left alone.
void RemoveStaleStateFiles(const QString &folder);
// Forgets them all: the rounds are pushed.
void ForgetUnpushed(const QString &folder);

// The last vCard each file of the folder held as a round read or wrote it, kept in the state
// folder (a hard link, else a copy) by the file's name: what a contact was after vdirsyncer
// removed its file, for the removed-*.vcf file and to write it again for a server that lost it.
// Keeps the folder's file `file` as it is now. Throws Failure.
void KeepLastSeen(const QString &folder, const QString &file);
// The same for every vCard of the folder, before vdirsyncer is let remove them.
void KeepAllLastSeen(const QString &folder);
// The kept vCard of the file `file`, if any.
std::optional<QByteArray> LastSeen(const QString &folder, const QString &file);
// Forgets the kept vCard of `file`: its contact is gone from both sides.
void ForgetLastSeen(const QString &folder, const QString &file);

} // namespace meridoc::cards
