#include "sync.h"

#include "output.h"
#include "sync_lock.h"
#include "sync_round.h"
#include "vcard_patch.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace meridoc::cards {
namespace {

QString settingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/meridoc/sync.conf");
}

struct Ran {
    int status = 0;
    QByteArray output;
};

// Tells resolve-conflict, when vdirsyncer runs it, the folder whose state it merges against.
// resolve-conflict only reads that state (replaced whole by a rename, never written in place), so
// it takes no lock: the round that runs vdirsyncer holds the sync folder's.
const char *const FolderVariable = "MERIDOC_SYNC_FOLDER";

// vdirsyncer refused because one side of the pair is empty while its last sync saw contacts.
struct SideEmptied {};

// A vdirsyncer run, stopped (terminated, then killed) when it takes longer than the request's
// limit: a stalled server does not hold the sync folder for ever.
Ran runVdirsyncer(const QStringList &args, const SyncRequest &request) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(FolderVariable), QDir(request.folder).absolutePath());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("vdirsyncer"), args);
    if (!process.waitForStarted(-1))
        throw Failure(QStringLiteral("vdirsyncer cannot be started (is it installed?)"));
    process.closeWriteChannel(); // a question it asks is answered "no"
    if (!process.waitForFinished(request.vdirsyncerSeconds * 1000) &&
        process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(-1);
        }
        throw Failure(QStringLiteral("vdirsyncer %1 took longer than %2 s and was stopped; the "
                                     "next sync goes on from where this one ended (the limit is "
                                     "--vdirsyncer-timeout, or vdirsyncer-timeout in sync.conf)")
                          .arg(args.join(u' '))
                          .arg(request.vdirsyncerSeconds));
    }
    const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128;
    return {status, process.readAll()};
}

// One `vdirsyncer sync PAIR`, discovering the pair first when it never was. Throws SideEmptied
// for vdirsyncer's refusal of an emptied side when `emptied` is set, else Failure.
void vdirsyncerSync(const CommandContext &ctx, const SyncRequest &request, bool forceDelete,
                    bool emptied = false) {
    QStringList args = {QStringLiteral("sync")};
    if (forceDelete)
        args += QStringLiteral("--force-delete");
    args += request.pair;
    Ran ran = runVdirsyncer(args, request);
    if (ran.status != 0 && ran.output.contains("discover")) {
        const Ran discovered = runVdirsyncer({QStringLiteral("discover"), request.pair}, request);
        ran = discovered.status == 0 ? runVdirsyncer(args, request) : discovered;
    }
    if (ran.status == 0)
        return;
    if (emptied && ran.output.contains("completely emptied"))
        throw SideEmptied{};
    std::fwrite(ran.output.constData(), 1, std::size_t(ran.output.size()), ctx.err);
    if (ran.output.contains("completely emptied"))
        throw Failure(
            QStringLiteral(
                "one side of the pair \"%1\" (the server's address book or the folder) is empty, "
                "while the last sync saw contacts on it; vdirsyncer changed nothing. If its "
                "contacts were removed on purpose, accept that with `meridoc-cards sync "
                "--force-delete`; to put MERIDOC's contacts back on the server, run "
                "`meridoc-cards sync --restore-server`")
                .arg(request.pair));
    throw Failure(QStringLiteral("vdirsyncer sync %1 failed (exit status %2)")
                      .arg(request.pair)
                      .arg(ran.status));
}

// Whether the folder holds a vCard file.
bool holdsVCards(const QString &folder) {
    return !QDir(folder).entryList({QStringLiteral("*.vcf")}, QDir::Files).isEmpty();
}

// What the server has new comes into the folder. To put the contacts back on a server whose
// address book was emptied, vdirsyncer is let remove the folder's vCards, which are kept first
// in the state folder: the round writes them again as they were, and the push uploads them.
void pull(const CommandContext &ctx, const SyncRequest &request) {
    if (!request.restoreServer) {
        vdirsyncerSync(ctx, request, request.forceDelete);
        return;
    }
    try {
        vdirsyncerSync(ctx, request, false, true);
    } catch (const SideEmptied &) {
        if (!holdsVCards(request.folder))
            throw Failure(QStringLiteral("the folder is empty while the server's address book is "
                                         "not; --restore-server puts back only what the server "
                                         "lost"),
                          request.folder);
        KeepAllLastSeen(request.folder);
        vdirsyncerSync(ctx, request, true);
    }
}

struct Version {
    QByteArray bytes;
    QString uid;
    Projection projection;
};

// One vCard, read from `path` unless `bytes` are given.
Version readVersion(const QString &path, const QByteArray &bytes = {}) {
    Version v;
    try {
        v.bytes = path.isEmpty() ? bytes : files::File::openForReading(path).readAll(16 << 20);
    } catch (const EInOutError &e) {
        throw Failure(e.message(), path);
    }
    int count = 0;
    if (const auto error = readVCards(v.bytes, [&](Contact &&c) {
            v.uid = c.uid.trimmed();
            v.projection = ProjectionOfContact(c);
            return ++count < 2;
        }))
        throw Failure(error->reason, path, error->line);
    if (count != 1)
        throw Failure(QStringLiteral("holds %1 vCards, not one").arg(count), path);
    return v;
}

} // namespace

SyncSettings RememberedSync() {
    SyncSettings s;
    QFile file(settingsPath());
    if (!file.open(QIODevice::ReadOnly))
        return s;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const qsizetype eq = line.indexOf(u'=');
        const QString key = line.left(eq).trimmed(), value = line.mid(eq + 1);
        if (eq <= 0)
            continue;
        if (key == u"dir")
            s.dir = value;
        else if (key == u"card-file")
            s.cardFile = value;
        else if (key == u"folder")
            s.folder = value;
        else if (key == u"vdirsyncer")
            s.pair = value;
        else if (key == u"vdirsyncer-timeout")
            s.vdirsyncerSeconds = std::max(0, value.trimmed().toInt());
    }
    return s;
}

void RememberSync(const SyncSettings &s) {
    const QString path = settingsPath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw Failure(QStringLiteral("cannot create the folder"), QFileInfo(path).path());
    QString text = QStringLiteral("# what `meridoc-cards sync` does without options\n"
                                  "dir=%1\ncard-file=%2\nfolder=%3\nvdirsyncer=%4\n")
                       .arg(s.dir, s.cardFile, s.folder, s.pair);
    if (s.vdirsyncerSeconds > 0)
        text += QStringLiteral("vdirsyncer-timeout=%1\n").arg(s.vdirsyncerSeconds);
    QFile old(path);
    if (!old.open(QIODevice::ReadOnly) || old.readAll() != text.toUtf8())
        WriteFileAtomically(path, text.toUtf8());
}

void RunSync(const CommandContext &ctx, const SyncRequest &request) {
    if (!request.oneWay && IsSeedBaseName(ctx.cardBaseName))
        throw Failure(QStringLiteral("the seed card file is not synced; open or create another "
                                     "card file"),
                      ctx.cardFile());
    if (!QDir().mkpath(request.folder))
        throw Failure(QStringLiteral("cannot create the folder"), request.folder);
    const SyncFolderLock folderLock(request.folder);
    RemoveStaleStateFiles(request.folder); // left by a round that was killed
    const bool pair = !request.pair.isEmpty();
    if (pair)
        pull(ctx, request);
    bool folderChanged = false;
    {
        const files::DirectoryLock lock(ctx.programDir);
        FinishKilledRun(ctx);
        SyncRound round(ctx, request);
        round.plan();
        round.apply();
        folderChanged = round.folderChanged();
    }
    if (pair && folderChanged)
        vdirsyncerSync(ctx, request, request.forceDelete);
    if (pair)
        ForgetUnpushed(request.folder);
}

void RunResolveConflict(const QString &a, const QString &b) {
    const Version mine = readVersion(a), theirs = readVersion(b);
    if (mine.uid != theirs.uid)
        throw Failure(QStringLiteral("its UID \"%1\" is not that of %2 (\"%3\"): two contacts, "
                                     "not two versions of one; neither file was changed")
                          .arg(mine.uid, b, theirs.uid),
                      a);
    // The state of the remembered sync folder knows what both agreed on last.
    std::optional<Projection> base;
    std::optional<QByteArray> baseBytes;
    const QString given = qEnvironmentVariable(FolderVariable);
    if (const QString folder = given.isEmpty() ? RememberedSync().folder : given;
        !folder.isEmpty()) {
        try {
            if ((baseBytes = Unpushed(folder, mine.uid)))
                base = readVersion(QString(), *baseBytes).projection;
            else if (const auto state = ReadSyncState(folder))
                for (const SyncedContact &s : state->contacts)
                    if (s.uid == mine.uid)
                        base = ProjectionOfEntry(s.fields(), s.lines.join(u'\n'));
        } catch (const Failure &) {
            // Without a readable state, the versions are merged as if they had no common base.
        }
    }
    const MergeOutcome merged = MergeProjections(base ? &*base : nullptr, mine.projection,
                                                 theirs.projection, QDate::currentDate());
    // Theirs with what only mine holds (a photo, X- lines), then given the merged fields.
    const QByteArray both = MergeOtherProperties(
        mine.bytes, theirs.bytes,
        base && baseBytes ? std::optional<QByteArrayView>(*baseBytes) : std::nullopt);
    const QByteArray bytes =
        PatchVCard(both, merged.result)
            .value_or(PatchVCard(mine.bytes, merged.result)
                          .value_or(VCardOfProjection(merged.result, mine.uid, false)));
    WriteFileAtomically(a, bytes);
    WriteFileAtomically(b, bytes);
}

} // namespace meridoc::cards
