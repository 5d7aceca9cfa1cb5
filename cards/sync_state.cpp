#include "sync_state.h"

#include "commands.h"
#include "output.h"

#include "data/errors.h"
#include "data/files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc::cards {
namespace {

const QByteArray Header = "meridoc-cards sync state 1\n";
// The state of 1,000,000 contacts, at 256 bytes a contact (an exported entry without extra
// text takes 197), and no more.
constexpr qint64 MaxStateBytes = 1000000 * qint64(256);
// One contact's line: its extra-text lines from the largest vCard read (8 MiB), each byte escaped.
// Its lines are held as text of two bytes a character: a longer line would take more memory
// than the whole state.
constexpr qsizetype MaxContactLine = 16 << 20;

QString statePath(const QString &folder) {
    return QDir(folder).filePath(SyncStateFolderName + QStringLiteral("/state"));
}

// A value on a tab-separated line: backslash, tab and line breaks escaped.
void appendEscaped(QByteArray &out, QByteArrayView utf8) {
    const auto special = [](char c) { return c == '\\' || c == '\t' || c == '\n' || c == '\r'; };
    if (std::none_of(utf8.begin(), utf8.end(), special)) {
        out.append(utf8);
        return;
    }
    for (const char c : utf8) {
        if (special(c))
            out += '\\';
        out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c;
    }
}

QByteArray unescaped(QByteArrayView value) {
    if (!value.contains('\\'))
        return value.toByteArray();
    QByteArray out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            c = value[++i];
            c = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
        out += c;
    }
    return out;
}

// The same as text; without a string in between for a value without escapes, the usual case.
QString unescapedText(QByteArrayView value) {
    return value.contains('\\') ? QString::fromUtf8(unescaped(value)) : QString::fromUtf8(value);
}

// Appends a field as written (each byte a Latin-1 character in UTF-8, escaped) to a key: its
// length byte and its bytes. Plain ASCII, the usual case, is taken as it is. False when the field
// is longer than `maximum`.
bool appendField(QByteArray &key, QByteArrayView written, int maximum) {
    QByteArray decoded;
    QByteArrayView bytes = written;
    if (!std::all_of(written.begin(), written.end(),
                     [](char c) { return c != '\\' && static_cast<unsigned char>(c) < 0x80; }))
        bytes = decoded = QString::fromUtf8(unescaped(written)).toLatin1();
    if (bytes.size() > maximum)
        return false;
    key += char(bytes.size());
    key.append(bytes);
    return true;
}

void appendStamp(QByteArray &out, const FileStamp &s) {
    if (s.isNone()) {
        out += '-';
        return;
    }
    // Three numbers of at most 20 digits each.
    char text[20];
    const auto number = [&](auto value) {
        out.append(text, std::to_chars(text, text + sizeof text, value).ptr - text);
    };
    number(s.size);
    out += ':';
    number(s.mtimeNs);
    out += ':';
    number(s.inode);
}

std::optional<FileStamp> stampFrom(QByteArrayView text) {
    if (text == "-")
        return FileStamp{};
    // "size:mtime:inode", decimal numbers (a time before 1970 is negative).
    FileStamp stamp;
    const char *at = text.begin(), *end = text.end();
    const auto number = [&](auto &value, bool last) {
        const auto [next, error] = std::from_chars(at, end, value);
        if (error != std::errc() || (last ? next != end : next == end || *next != ':'))
            return false;
        at = last ? next : next + 1;
        return true;
    };
    if (!number(stamp.size, false) || !number(stamp.mtimeNs, false) || !number(stamp.inode, true) ||
        stamp.size < 0)
        return std::nullopt;
    return stamp;
}

QString unpushedFolder(const QString &folder) {
    return QDir(folder).filePath(SyncStateFolderName + QStringLiteral("/unpushed"));
}

QString lastSeenFolder(const QString &folder) {
    return QDir(folder).filePath(SyncStateFolderName + QStringLiteral("/last"));
}

// A UID may hold any character: the file is named by its hash.
QString unpushedPath(const QString &folder, const QString &uid) {
    return unpushedFolder(folder) + '/' +
           QString::fromLatin1(
               QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha1).toHex()) +
           QStringLiteral(".vcf");
}

// Refuses `dir` when it is there but not a folder of its own (a symbolic link, a file).
void refuseForeignFolder(const QString &dir) {
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0) {
        if (errno == ENOENT)
            return;
        throw Failure(QString::fromLocal8Bit(std::strerror(errno)), dir);
    }
    if (!S_ISDIR(st.st_mode))
        throw Failure(QStringLiteral("%1: the sync keeps its state only in a folder of its own "
                                     "inside the sync folder; nothing was changed")
                          .arg(S_ISLNK(st.st_mode) ? QStringLiteral("a symbolic link")
                                                   : QStringLiteral("not a folder")),
                      dir);
}

} // namespace

void CheckStateFolder(const QString &folder) {
    refuseForeignFolder(QDir(folder).filePath(SyncStateFolderName));
    refuseForeignFolder(unpushedFolder(folder));
    refuseForeignFolder(lastSeenFolder(folder));
}

QByteArray ReadOwnFile(const QString &path, qint64 limit, const QString &tooLong) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP)
        throw Failure(QStringLiteral("a symbolic link, not followed"), path);
    try {
        if (fd < 0)
            EInOutError::raiseFromErrno(errno);
        const files::File file = files::File::adopt(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            throw Failure(QStringLiteral("not a regular file"), path);
        if (st.st_size > limit)
            throw Failure(tooLong, path);
        // Read into room for its size at once: no copy while it grows.
        QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
        bytes.truncate(qsizetype(file.readAt(bytes.data(), bytes.size(), 0)));
        return bytes;
    } catch (const EInOutError &e) {
        throw Failure(e.message(), path);
    }
}

void KeepUnpushed(const QString &folder, const QString &uid, const QByteArray &bytes) {
    CheckStateFolder(folder);
    const QString path = unpushedPath(folder, uid);
    if (!StampOf(path).isNone())
        return; // the version before an earlier round that was not pushed
    if (!QDir().mkpath(unpushedFolder(folder)))
        throw Failure(QStringLiteral("cannot create the folder"), unpushedFolder(folder));
    WriteFileAtomically(path, bytes);
}

namespace {

// A vCard kept in the state folder, if there is one.
std::optional<QByteArray> keptVCard(const QString &path) {
    if (StampOf(path).isNone())
        return std::nullopt;
    try {
        return ReadOwnFile(path, 16 << 20, QStringLiteral("larger than a vCard can be"));
    } catch (const Failure &) {
        return std::nullopt;
    }
}

// Where no link can be made, the copy is written in the state folder and renamed into last/: what
// a killed round leaves half-written is then among the state folder's few files, and a round
// never lists last/, which holds a file per contact.
void copyLastSeen(const QString &folder, const QString &file, const QByteArray &bytes) {
    const QString stateFolder = QDir(folder).filePath(SyncStateFolderName);
    files::ReplacementFile copy(stateFolder + '/' + file, files::newFileMode(0666),
                                {files::Staging::Beside, files::Link::Replace});
    copy.file().writeAt(bytes.constData(), bytes.size(), 0);
    const QString staged = copy.release();
    try {
        files::putInPlace(staged, lastSeenFolder(folder) + '/' + file);
    } catch (const EInOutError &) {
        ::unlink(QFile::encodeName(staged).constData());
        throw;
    }
    files::syncDirectory(lastSeenFolder(folder));
}

void removeFolder(const QString &path) {
    QDir dir(path);
    if (dir.exists() && !dir.removeRecursively())
        throw Failure(QStringLiteral("cannot remove the folder"), dir.path());
}

} // namespace

std::optional<QByteArray> Unpushed(const QString &folder, const QString &uid) {
    CheckStateFolder(folder);
    return keptVCard(unpushedPath(folder, uid));
}

void ForgetUnpushed(const QString &folder) {
    CheckStateFolder(folder);
    removeFolder(unpushedFolder(folder));
}

void RemoveStaleStateFiles(const QString &folder) {
    // last/ holds no staged file (see copyLastSeen), so its file per contact is never listed.
    for (const QString &dir : {QDir(folder).filePath(SyncStateFolderName), unpushedFolder(folder)})
        if (const QFileInfo info(dir); info.isDir() && !info.isSymLink())
            files::removeStaleStagedFiles(dir + '/');
}

void KeepLastSeen(const QString &folder, const QString &file) {
    CheckStateFolder(folder);
    const QString from = QDir(folder).filePath(file), to = lastSeenFolder(folder) + '/' + file;
    if (QFileInfo(from).isSymLink() || StampOf(from).isNone()) // links are not followed
        return;
    if (::unlink(QFile::encodeName(to).constData()) != 0 && errno == ENOENT &&
        !QDir().mkpath(lastSeenFolder(folder)))
        throw Failure(QStringLiteral("cannot create the folder"), lastSeenFolder(folder));
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return;
    try {
        copyLastSeen(folder, file, files::File::openForReading(from).readAll(16 << 20));
    } catch (const EInOutError &e) {
        throw Failure(e.message(), from);
    }
}

void KeepAllLastSeen(const QString &folder) {
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.vcf")}, QDir::Files))
        KeepLastSeen(folder, name);
    files::syncDirectory(lastSeenFolder(folder));
}

std::optional<QByteArray> LastSeen(const QString &folder, const QString &file) {
    return keptVCard(lastSeenFolder(folder) + '/' + file);
}

void ForgetLastSeen(const QString &folder, const QString &file) {
    const QString path = lastSeenFolder(folder) + '/' + file;
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
        throw Failure(QStringLiteral("cannot remove the file"), path);
}

std::array<QByteArray, FieldCount> SyncedContact::fields() const {
    return FieldsOfKey(key);
}

std::array<QByteArray, FieldCount> FieldsOfKey(QByteArrayView key) {
    std::array<QByteArray, FieldCount> fields;
    qsizetype at = 0;
    for (QByteArray &field : fields) {
        if (at >= key.size())
            break;
        const qsizetype length =
            std::min<qsizetype>(static_cast<unsigned char>(key[at]), key.size() - at - 1);
        field = key.sliced(at + 1, length).toByteArray();
        at += 1 + length;
    }
    return fields;
}

QByteArray KeyOfRecord(const EntryRecord &record) {
    QByteArray key;
    key.reserve(EntryRecord::Size);
    AppendKeyOfRecord(key, record);
    return key;
}

void AppendKeyOfRecord(QByteArray &key, const EntryRecord &record) {
    for (int f = 0; f < FieldCount; ++f) {
        const int at = EntryRecord::offset(Field(f));
        const int length = std::min<int>(record.bytes[at], EntryRecord::maxLength(Field(f)));
        key += char(length);
        key.append(reinterpret_cast<const char *>(record.bytes.data()) + at + 1, length);
    }
}

std::pair<QByteArrayView, QByteArrayView> NameOfKey(QByteArrayView key) {
    // Each field: its length byte, then its bytes.
    const auto field = [&](qsizetype at) {
        if (at >= key.size())
            return QByteArrayView();
        return key.sliced(
            at + 1, std::min<qsizetype>(static_cast<unsigned char>(key[at]), key.size() - at - 1));
    };
    const QByteArrayView name = field(0);
    return {name, field(1 + name.size())};
}

QByteArray FieldsKey(const std::array<QByteArray, FieldCount> &fields) {
    QByteArray key;
    key.reserve(EntryRecord::Size);
    for (const QByteArray &f : fields) {
        key += char(f.size());
        key += f;
    }
    return key;
}

FileStamp StampAt(int dirFd, const char *name, Links links) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, links == Links::Follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return {};
    return {qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            quint64(st.st_ino)};
}

FileStamp StampOf(const QString &path, Links links) {
    return StampAt(AT_FDCWD, QFile::encodeName(path).constData(), links);
}

QByteArray SyncStateBytes(const SyncState &state) {
    QByteArray out = Header;
    qsizetype size = out.size() + 100;
    for (const SyncedContact &c : state.contacts)
        size += c.asRead.endsWith('\n') ? c.asRead.size() : 256;
    out.reserve(size);
    out += "card-file\t";
    appendEscaped(out, state.cardFile.toUtf8());
    out += '\n';
    for (const SyncedContact &c : state.contacts) {
        // Unchanged since it was read: writing each line anew took a tenth of a changing round.
        if (c.asRead.endsWith('\n')) {
            out += c.asRead;
            continue;
        }
        out += "contact\t";
        appendEscaped(out, c.uid.toUtf8());
        out += '\t';
        appendEscaped(out, c.file.toUtf8());
        out += '\t';
        appendStamp(out, c.fileSeen);
        out += '\t';
        out += c.vhash;
        out += '\t';
        appendStamp(out, c.textSeen);
        // Fields keep their exact bytes: each byte read as a Latin-1 character.
        for (const QByteArray &field : c.fields()) {
            out += '\t';
            if (std::all_of(field.begin(), field.end(),
                            [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }))
                appendEscaped(out, field);
            else
                appendEscaped(out, QString::fromLatin1(field).toUtf8());
        }
        for (const QString &line : c.lines) {
            out += '\t';
            appendEscaped(out, line.toUtf8());
        }
        out += '\n';
    }
    return out;
}

std::optional<SyncState> ReadSyncState(const QString &folder) {
    CheckStateFolder(folder);
    const QString path = statePath(folder);
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT)
        return std::nullopt;
    const QByteArray bytes =
        ReadOwnFile(path, MaxStateBytes,
                    QStringLiteral("larger than the state of 1,000,000 contacts (%1 bytes); "
                                   "not read")
                        .arg(MaxStateBytes));
    if (!bytes.startsWith(Header))
        throw Failure(QStringLiteral("not a sync state this program wrote"), path);
    SyncState state;
    state.read = bytes;
    int lineNumber = 1;
    QList<QByteArrayView> parts;
    const QByteArrayView all = QByteArrayView(state.read).sliced(Header.size());
    state.contacts.reserve(std::size_t(std::count(all.begin(), all.end(), '\n')));
    for (qsizetype start = 0, end; start < all.size(); start = end + 1) {
        end = all.indexOf('\n', start);
        if (end < 0)
            end = all.size();
        const QByteArrayView line = all.sliced(start, end - start);
        ++lineNumber;
        if (line.isEmpty())
            continue;
        if (line.size() > MaxContactLine)
            throw Failure(QStringLiteral("damaged sync state: a line longer than a contact's can "
                                         "be (%1 bytes)")
                              .arg(MaxContactLine),
                          path, lineNumber);
        parts.clear();
        for (qsizetype from = 0, tab; from <= line.size(); from = tab + 1) {
            tab = line.indexOf('\t', from);
            if (tab < 0)
                tab = line.size();
            parts.append(line.sliced(from, tab - from));
        }
        const auto bad = [&] {
            return Failure(QStringLiteral("damaged sync state"), path, lineNumber);
        };
        if (parts[0] == "card-file" && parts.size() == 2) {
            state.cardFile = unescapedText(parts[1]);
            continue;
        }
        if (parts[0] != "contact" || parts.size() < 6 + FieldCount)
            throw bad();
        SyncedContact c;
        c.uid = unescapedText(parts[1]);
        c.file = unescapedText(parts[2]);
        const auto fileSeen = stampFrom(parts[3]);
        const auto textSeen = stampFrom(parts[5]);
        if (!fileSeen || !textSeen || c.uid.isEmpty() || c.file.isEmpty() || c.file.contains('/'))
            throw bad();
        c.fileSeen = *fileSeen;
        c.vhash = parts[4].toByteArray();
        c.textSeen = *textSeen;
        c.key.reserve(EntryRecord::Size);
        for (int f = 0; f < FieldCount; ++f) {
            if (!appendField(c.key, parts[6 + f], EntryRecord::maxLength(Field(f))))
                throw bad();
        }
        for (qsizetype i = 6 + FieldCount; i < parts.size(); ++i)
            c.lines += unescapedText(parts[i]);
        c.asRead = all.sliced(start, std::min(end + 1, all.size()) - start);
        state.contacts.push_back(std::move(c));
    }
    return state;
}

void WriteSyncState(const QString &folder, const SyncState &state) {
    WriteSyncStateBytes(folder, SyncStateBytes(state));
}

void WriteSyncStateBytes(const QString &folder, const QByteArray &bytes) {
    CheckStateFolder(folder);
    const QString dir = QDir(folder).filePath(SyncStateFolderName);
    if (!QDir().mkpath(dir))
        throw Failure(QStringLiteral("cannot create the folder"), dir);
    WriteFileAtomically(statePath(folder), bytes);
}

} // namespace meridoc::cards
