#include "extratext.h"

#include "appstate.h"
#include "cardfile.h"
#include "errors.h"
#include "extratext_io.h"
#include "files.h"
#include "installation.h"
#include "text.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace meridoc {
namespace {

// The files the program writes for itself, which no entry's name may reach; the installed files
// are known by IsInstalledFile.
const QStringList OwnFiles = {QStringLiteral("meridoc.ini"), QStringLiteral("temp.tmp"),
                              files::CommitJournalName};

// A file of the program directory with its name as it reads: UTF-8 when the bytes are valid
// UTF-8, otherwise Windows-1252 (a name written on the original platform).
struct NamedFile {
    QByteArray path; // in the file system's bytes
    QString name;
    bool cp1252 = false;
};

// The key ExtraTextKey gives an entry whose extra text has the file name `name`.
QByteArray keyOf(const QString &name) {
    return text::toCp1252(text::upperAscii(text::trimmed(name)));
}

NamedFile namedFile(const QByteArray &dir, const QByteArray &bytes) {
    return {dir + bytes, text::fromUtf8OrCp1252(bytes), !bytes.isValidUtf8()};
}

// Hands every entry of the program directory, with its name as it reads, to `use`. The
// directory is read at byte level, so names that are not UTF-8 are seen too.
template <typename Use> void forEachFileName(const QString &programDir, Use use) {
    const QByteArray dir = QFile::encodeName(programDir);
    DIR *d = ::opendir(dir.constData());
    if (!d)
        return;
    while (const dirent *e = ::readdir(d))
        use(namedFile(dir, QByteArray(e->d_name)));
    ::closedir(d);
}

// The files (not directories) of the program directory whose names, trimmed, equal `wanted`
// ignoring letter case and may name an extra text; in byte order of their names.
QList<NamedFile> filesTrimmedTo(const ApplicationState &folder, const QString &wanted) {
    QList<NamedFile> found;
    forEachFileName(folder.ProgramDir, [&](const NamedFile &file) {
        if (!text::equalsIgnoringAsciiCase(text::trimmed(file.name), wanted) ||
            !IsExtraTextName(folder, file.name))
            return;
        struct stat st {};
        if (::stat(file.path.constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            found.append(file);
    });
    std::sort(found.begin(), found.end(),
              [](const NamedFile &a, const NamedFile &b) { return a.path < b.path; });
    return found;
}

// Whether a card file other than the current one has an entry with `key`. One that cannot be
// read whole (missing, unreadable, a partial record) counts as having it, so nothing that might
// still be needed is deleted. The file is only read, so a read-only card file is read too.
bool otherCardFileHolds(const QString &path, const QByteArray &key) {
    try {
        const files::File file = files::File::openForReading(path);
        const qint64 size = file.size();
        if (size % EntryRecord::Size != 0)
            return true;
        std::vector<EntryRecord> buffer(512);
        const qint64 chunk = qint64(buffer.size()) * EntryRecord::Size;
        for (qint64 offset = 0; offset < size;) {
            const qint64 n = file.readAt(buffer.data(), chunk, offset);
            if (n <= 0 || n % EntryRecord::Size != 0)
                return true;
            for (qint64 i = 0; i < n / EntryRecord::Size; ++i) {
                if (ExtraTextKey(buffer[i].NAME(), buffer[i].SURNAME()) == key)
                    return true;
            }
            offset += n;
        }
        return false;
    } catch (const Exception &) {
        return true;
    }
}

bool sameFile(const QString &a, const QString &b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Whether an entry of any card file of the program directory has `key`. The current card file is
// read to its end and its errors are raised; the others are read as otherCardFileHolds says.
bool cardFilesHold(const ApplicationState &folder, const QByteArray &key) {
    bool found = false;
    const QString current = CardFilePath(folder);
    CardFileReader reader(current);
    while (const EntryRecord *record = reader.next()) {
        if (ExtraTextKey(record->NAME(), record->SURNAME()) == key)
            found = true;
    }
    if (found)
        return true;
    for (const QString &extension : CardFileExtensions(folder)) {
        for (const QString &name : files::listWithExtension(folder.ProgramDir, extension)) {
            const QString path = folder.ProgramDir + name;
            if (!sameFile(path, current) && otherCardFileHolds(path, key))
                return true;
        }
    }
    return false;
}

} // namespace

QString EditorExtraTextName(const QString &name, const QString &surname) {
    return name + surname;
}

QString ViewerExtraTextName(const QString &name, const QString &surname) {
    return text::trimmed(name + surname);
}

QByteArray ExtraTextKey(const QByteArray &name, const QByteArray &surname) {
    return text::upperAscii(text::trimmed(name + surname));
}

bool IsProgramFileName(const QString &programDir, const QString &name) {
    return IsInstalledFile(programDir, name) ||
           std::any_of(OwnFiles.begin(), OwnFiles.end(), [&](const QString &own) {
               return text::equalsIgnoringAsciiCase(name, own);
           });
}

namespace {

template <typename IsProgramFile>
bool isExtraTextName(const QString &name, IsProgramFile isProgramFile,
                     const QStringList &cardExtensions) {
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/') ||
        name.contains(QChar(0)))
        return false;
    if (isProgramFile(name) || files::isStagedName(QFile::encodeName(name)))
        return false;
    const QString upper = text::upperAscii(name);
    for (const QString &extension : cardExtensions) {
        const qsizetype dot = upper.size() - extension.size() - 1;
        if (dot >= 0 && upper[dot] == '.' && upper.endsWith(extension))
            return false;
    }
    return true;
}

} // namespace

bool IsExtraTextName(const ApplicationState &folder, const QString &name) {
    return isExtraTextName(
        name, [&](const QString &n) { return IsProgramFileName(folder.ProgramDir, n); },
        CardFileExtensions(folder));
}

QString ExtraTextPath(const ApplicationState &folder, const QString &name) {
    return IsExtraTextName(folder, name) ? files::resolve(folder.ProgramDir, name) : QString();
}

bool ExtraTextExists(const ApplicationState &folder, const QString &name) {
    return IsExtraTextName(folder, name) && files::fileExists(folder.ProgramDir, name);
}

QByteArray FindExtraText(const ApplicationState &folder, const QString &name) {
    if (!IsExtraTextName(folder, name))
        return {};
    QList<NamedFile> found = filesTrimmedTo(folder, name);
    // The name itself first, then another letter case, then with blanks around it; UTF-8 names
    // before Windows-1252 ones.
    const auto rank = [&name](const NamedFile &f) {
        const int spelling = f.name == name                                ? 0
                             : text::equalsIgnoringAsciiCase(f.name, name) ? 1
                                                                           : 2;
        return (f.cp1252 ? 3 : 0) + spelling;
    };
    std::stable_sort(found.begin(), found.end(),
                     [&](const NamedFile &a, const NamedFile &b) { return rank(a) < rank(b); });
    return found.isEmpty() ? QByteArray() : found.first().path;
}

ExtraTextFolder::ExtraTextFolder(const ApplicationState &folder)
    : folder_(folder), extensions_(CardFileExtensions(folder)),
      programFiles_(InstalledFileNames(folder.ProgramDir)), index_(folder.ProgramDir) {
    for (const QByteArray &name : index_.names()) // ExtraTextKeys, from the same listing
        keys_.insert(keyOf(text::fromUtf8OrCp1252(name)));
    for (const QString &own : OwnFiles)
        programFiles_.insert(text::upperAscii(own));
}

bool ExtraTextFolder::isName(const QString &name) const {
    return isExtraTextName(
        name, [&](const QString &n) { return programFiles_.contains(text::upperAscii(n)); },
        extensions_);
}

QString ExtraTextFolder::path(const QString &name) const {
    if (!isName(name))
        return {};
    const QString path = index_.resolve(name);
    return index_.isDirectory(path.mid(folder_.ProgramDir.size())) ? QString() : path;
}

QString ExtraTextFolder::existingPath(const QString &name) const {
    const QString found = path(name);
    return isFile(found) ? found : QString();
}

bool ExtraTextFolder::isFile(const QString &path) const {
    return !path.isEmpty() && index_.isFile(path.mid(folder_.ProgramDir.size()));
}

QSet<QByteArray> ExtraTextKeys(const QString &programDir) {
    QSet<QByteArray> keys;
    forEachFileName(programDir, [&](const NamedFile &file) { keys.insert(keyOf(file.name)); });
    return keys;
}

void LoadExtraTextFile(const QByteArray &path, QTextDocument &doc) {
    const QString decoded = QFile::decodeName(path);
    if (QFile::encodeName(decoded) == path) {
        LoadExtraText(decoded, doc);
        return;
    }
    // A name in Windows-1252 bytes has no QString path that reaches it. The file is opened here
    // by its bytes and read through its descriptor's entry in /proc; messages name the file as
    // the user knows it.
    const qsizetype slash = path.lastIndexOf('/');
    const QString shown =
        QFile::decodeName(path.left(slash + 1)) + text::fromCp1252(path.mid(slash + 1));
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const auto closeFile = qScopeGuard([fd] {
        if (fd >= 0)
            ::close(fd);
    });
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw Exception(QStringLiteral("Cannot open file %1").arg(shown));
    const QString viaDescriptor = QStringLiteral("/proc/self/fd/%1").arg(fd);
    try {
        LoadExtraText(viaDescriptor, doc);
    } catch (const Exception &e) {
        throw Exception(e.message().replace(viaDescriptor, shown));
    }
}

void RemoveOrphanExtraText(const ApplicationState &folder, const QByteArray &key) {
    const QString name = text::fromCp1252(key);
    if (!IsExtraTextName(folder, name))
        return; // a name that must not be touched
    // Under the lock, so that another running copy cannot add an entry and save its text between
    // the reading of the card files and the deletion.
    files::DirectoryLock lock(folder.ProgramDir);
    const QList<NamedFile> files = filesTrimmedTo(folder, name);
    if (files.isEmpty() || cardFilesHold(folder, key))
        return;
    for (const NamedFile &file : files)
        ::unlink(file.path.constData());
}

// The same on the program-wide AppState, for the windows.

bool IsProgramFileName(const QString &name) {
    return IsProgramFileName(AppState.ProgramDir, name);
}

bool IsExtraTextName(const QString &name) {
    return IsExtraTextName(AppState, name);
}

QString ExtraTextPath(const QString &name) {
    return ExtraTextPath(AppState, name);
}

bool ExtraTextExists(const QString &name) {
    return ExtraTextExists(AppState, name);
}

QByteArray FindExtraText(const QString &name) {
    return FindExtraText(AppState, name);
}

QSet<QByteArray> ExtraTextKeys() {
    return ExtraTextKeys(AppState.ProgramDir);
}

void RemoveOrphanExtraText(const QByteArray &key) {
    RemoveOrphanExtraText(AppState, key);
}

} // namespace meridoc
