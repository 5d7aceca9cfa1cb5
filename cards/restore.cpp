#include "restore.h"

#include "output.h"
#include "sync_lock.h"
#include "sync_state.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/text.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>
#include <QUuid>

namespace meridoc::cards {
namespace {

// One vCard of a file, its text as it stands.
struct Kept {
    QString uid, who;
    QByteArray bytes{};
};

// The vCards of `file`, each cut from the line it starts on to the line the next one starts on.
std::vector<Kept> keptVCards(const QString &file) {
    QByteArray bytes;
    try {
        bytes = files::File::openForReading(file).readAll(qint64(1) << 30);
    } catch (const EInOutError &e) {
        throw Failure(e.message(), file);
    }
    std::vector<Kept> found;
    std::vector<int> starts;
    if (const auto error = readVCards(bytes, [&](Contact &&c) {
            const QString who = text::trimmed(c.formatted).isEmpty()
                                    ? text::trimmed(c.given + u' ' + c.family)
                                    : text::trimmed(c.formatted);
            found.push_back({c.uid.trimmed(), who.isEmpty() ? QStringLiteral("(no name)") : who});
            starts.push_back(c.line);
            return true;
        }))
        throw Failure(error->reason, file, error->line);
    // Where each line starts in the bytes.
    std::vector<qsizetype> lineAt = {0};
    for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1))
        lineAt.push_back(at + 1);
    const auto offset = [&](int line) {
        return line - 1 < int(lineAt.size()) ? lineAt[std::size_t(line - 1)] : bytes.size();
    };
    for (std::size_t i = 0; i < found.size(); ++i) {
        const qsizetype from = offset(starts[i]);
        const qsizetype to = i + 1 < found.size() ? offset(starts[i + 1]) : bytes.size();
        found[i].bytes = bytes.sliced(from, to - from);
        if (!found[i].bytes.endsWith('\n'))
            found[i].bytes += "\r\n";
    }
    return found;
}

// A name for the vCard in the folder: its UID when that makes a plain file name, else a new one.
QString fileNameFor(const QString &folder, const QString &uid) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._@-]{0,200}$"));
    QString name = plain.match(uid).hasMatch() ? uid + QStringLiteral(".vcf") : QString();
    while (name.isEmpty() || QFileInfo::exists(QDir(folder).filePath(name)) ||
           QFileInfo(QDir(folder).filePath(name)).isSymLink())
        name = QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".vcf");
    return name;
}

// The UIDs of the folder's vCards: as the last sync left them, and read from the files it does
// not know (a restore not synced yet, a phone's new contact).
QSet<QString> uidsInFolder(const QString &folder, const std::optional<SyncState> &state) {
    QSet<QString> uids, known;
    if (state)
        for (const SyncedContact &c : state->contacts) {
            known.insert(c.file);
            if (QFileInfo::exists(QDir(folder).filePath(c.file)))
                uids.insert(c.uid);
        }
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.vcf")}, QDir::Files)) {
        const QString path = QDir(folder).filePath(name);
        if (known.contains(name) || QFileInfo(path).isSymLink())
            continue;
        try {
            for (const Kept &kept : keptVCards(path))
                uids.insert(kept.uid);
        } catch (const Failure &) {
            // A file that is no vCard holds no UID.
        }
    }
    return uids;
}

void print(std::FILE *stream, const QString &line) {
    const QByteArray bytes = (line + '\n').toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

} // namespace

void RunRestore(const CommandContext &ctx, const RestoreRequest &request) {
    if (!QDir().mkpath(request.folder))
        throw Failure(QStringLiteral("cannot create the folder"), request.folder);
    if (IsSeedBaseName(ctx.cardBaseName))
        throw Failure(QStringLiteral("the seed card file is not synced; open or create another "
                                     "card file"),
                      ctx.cardFile());
    const SyncFolderLock lock(request.folder);
    const std::optional<SyncState> state = ReadSyncState(request.folder);
    if (state && !state->cardFile.isEmpty() &&
        state->cardFile.compare(ctx.cardBaseName, Qt::CaseInsensitive) != 0)
        throw Failure(QStringLiteral("this folder is synced with the card file \"%1\", not \"%2\"")
                          .arg(state->cardFile, ctx.cardBaseName),
                      request.folder);
    QSet<QString> present = uidsInFolder(request.folder, state);
    QByteArray restored;
    for (const QString &file : request.files) {
        for (Kept &kept : keptVCards(file)) {
            if (!kept.uid.isEmpty() && present.contains(kept.uid)) {
                print(ctx.out, QStringLiteral("already there: %1").arg(kept.who));
                continue;
            }
            // The vCard first: a restore stopped before the card file is written is finished by
            // the next sync, which takes the contact from the folder.
            QString where;
            if (!kept.uid.isEmpty()) {
                where = fileNameFor(request.folder, kept.uid);
                WriteFileAtomically(QDir(request.folder).filePath(where), kept.bytes);
                present.insert(kept.uid);
            }
            print(ctx.out, where.isEmpty()
                               ? QStringLiteral("restored: %1").arg(kept.who)
                               : QStringLiteral("restored: %1 (%2)").arg(kept.who, where));
            restored += kept.bytes;
        }
    }
    if (restored.isEmpty())
        return;
    // The entries and their extra-text lines, as an import of those vCards makes them; what the
    // record cannot hold stays in the folder's vCard.
    QTemporaryFile scratch(QDir(request.folder).filePath(SyncStateFolderName) +
                           QStringLiteral("/restore-XXXXXX.vcf"));
    if (!scratch.open() || scratch.write(restored) != restored.size() || !scratch.flush())
        throw Failure(QStringLiteral("cannot write the file"), scratch.fileName());
    ImportReport report;
    ImportRequest import;
    import.files = {scratch.fileName()};
    import.report = &report;
    report.contact = [&](const ReportedContact &c) {
        if (!c.remarks.isEmpty())
            print(ctx.err, QStringLiteral("meridoc-cards: %1: %2")
                               .arg(c.who, c.remarks.join(QStringLiteral("; "))));
    };
    import.vCardsKept = true;
    RunImport(ctx, import);
    print(ctx.err,
          QStringLiteral("meridoc-cards: %1; the next sync uploads them").arg(report.summary));
}

} // namespace meridoc::cards
