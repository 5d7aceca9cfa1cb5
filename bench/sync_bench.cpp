#include "sync_bench.h"

#include "entries.h"
#include "workspace.h"

#include "cards/sync.h"
#include "data/cardfile.h"
#include "data/extratext.h"
#include "data/text.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSaveFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace bench {
namespace {

using meridoc::EntryRecord;
using meridoc::cards::CommandContext;
using meridoc::cards::Failure;
using meridoc::cards::RunSync;
using meridoc::cards::SyncRequest;

// Contacts changed in turn by the round with a change, on each side.
constexpr int ChangingContacts = 16;
// One entry in ExtraTextShare has an extra text.
constexpr int ExtraTextShare = 10;

const QByteArray ExtraText = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Met at the "
                             "conference in Lyon.\\par Prefers calls after six.\\par}";

// The program folder with its card file, the sync folder, and what the round with a change
// alters: on MERIDOC's side the PHONE2 of entries whose name no other entry has (so that the
// changed entry is still recognised by its name), on the phone's side the first phone of the
// vCards of other contacts.
struct SyncCase {
    QString folder; // ends with '/'
    CommandContext ctx;
    std::vector<std::pair<QByteArray, QByteArray>> cardSide; // NAME and SURNAME
    QStringList folderSide;
    int next = 0;
    QString error; // why the case cannot be measured
};

// One round without the vdirsyncer pair; true when it printed no change.
bool syncRound(const SyncCase &c, std::FILE *out) {
    CommandContext ctx = c.ctx;
    ctx.out = out;
    const long before = std::ftell(out);
    RunSync(ctx, SyncRequest{c.folder, {}, false});
    std::fflush(out);
    return std::ftell(out) == before;
}

std::vector<EntryRecord> readRecords(const QString &cardFile) {
    QFile file(cardFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("cannot read the card file"), cardFile);
    const QByteArray bytes = file.readAll();
    std::vector<EntryRecord> records(std::size_t(bytes.size() / EntryRecord::Size));
    for (std::size_t i = 0; i < records.size(); ++i)
        std::memcpy(records[i].bytes.data(), bytes.constData() + i * EntryRecord::Size,
                    EntryRecord::Size);
    return records;
}

void writeExtraTexts(const SyncCase &c, const std::vector<EntryRecord> &records) {
    for (std::size_t i = 0; i < records.size(); i += ExtraTextShare) {
        const QString name =
            meridoc::ViewerExtraTextName(meridoc::text::fromCp1252(records[i].NAME()),
                                         meridoc::text::fromCp1252(records[i].SURNAME()));
        QFile file(meridoc::ExtraTextPath(c.ctx.folder(), name));
        if (!file.open(QIODevice::WriteOnly) || file.write(ExtraText) != ExtraText.size())
            throw Failure(file.errorString(), file.fileName());
    }
}

void pickChangingContacts(SyncCase &c, const std::vector<EntryRecord> &records,
                          EntryGenerator &generator) {
    QHash<QByteArray, int> named;
    for (const EntryRecord &r : records)
        ++named[r.NAME() + '\t' + r.SURNAME()];
    QByteArrayList phones;
    while (c.cardSide.size() < ChangingContacts) {
        const EntryRecord &r = records[generator.below(records.size())];
        if (named.value(r.NAME() + '\t' + r.SURNAME()) == 1 && !r.PHONE2().isEmpty() &&
            r.PHONE2().size() + 4 <= EntryRecord::maxLength(meridoc::Field::PHONE2)) {
            c.cardSide.emplace_back(r.NAME(), r.SURNAME());
            named.remove(r.NAME() + '\t' + r.SURNAME());
            phones.append(r.PHONE1());
        }
    }
    const QStringList files = QDir(c.folder).entryList({QStringLiteral("*.vcf")}, QDir::Files);
    for (const QString &name : files) {
        QFile file(c.folder + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        if (bytes.contains("\nTEL") &&
            std::none_of(phones.begin(), phones.end(), [&](auto &p) { return bytes.contains(p); }))
            c.folderSide.append(c.folder + name);
        if (c.folderSide.size() == ChangingContacts)
            break;
    }
}

SyncCase makeSyncCase(Workspace &ws) {
    SyncCase c;
    const QString programDir = ws.dir() + QStringLiteral("sync-program/");
    c.folder = ws.dir() + QStringLiteral("sync-folder/");
    c.ctx = CommandContext{programDir, QStringLiteral("synced"), QStringLiteral("CRD")};
    static std::FILE *const sink = std::fopen("/dev/null", "w");
    c.ctx.out = c.ctx.err = sink;
    std::FILE *report = std::tmpfile();
    try {
        QDir().mkpath(programDir);
        EntryGenerator generator(0x73796e63);
        const std::vector<EntryRecord> records = sortedEntries(generator, SyncSize);
        writeCardFile(programDir + QStringLiteral("synced.crd"), records);
        writeExtraTexts(c, records);
        syncRound(c, sink); // the first sync writes the folder
        pickChangingContacts(c, records, generator);
        if (!syncRound(c, report))
            c.error = QStringLiteral("a round after the first one still changed something");
        else if (c.folderSide.size() < ChangingContacts)
            c.error = QStringLiteral("the first sync wrote too few vCards");
    } catch (const Failure &f) {
        c.error = f.file() + QStringLiteral(": ") + f.reason();
    } catch (const std::exception &e) {
        c.error = QString::fromLocal8Bit(e.what());
    }
    std::fclose(report);
    return c;
}

SyncCase &syncCase(Workspace &ws) {
    static SyncCase c = makeSyncCase(ws);
    return c;
}

// One change on each side, as the user and the phone make them: PHONE2 of an entry in the card
// file, through the data layer; the first phone of a vCard, the file replaced by a new one.
void changeEachSide(SyncCase &c) {
    const auto &[name, surname] = c.cardSide[std::size_t(c.next % ChangingContacts)];
    const QString cardFile = c.ctx.cardFile();
    for (const EntryRecord &r : readRecords(cardFile)) {
        if (r.NAME() == name && r.SURNAME() == surname) {
            meridoc::ReplaceEntry(cardFile, r, toggledPhone2(r));
            break;
        }
    }
    QSaveFile file(c.folderSide[c.next % ChangingContacts]);
    QFile old(file.fileName());
    if (!old.open(QIODevice::ReadOnly))
        throw Failure(old.errorString(), old.fileName());
    QByteArray bytes = old.readAll();
    const qsizetype tel = bytes.indexOf("\nTEL");
    qsizetype end = bytes.indexOf('\n', tel + 1);
    if (bytes[end - 1] == '\r')
        --end;
    if (bytes.mid(end - 2, 2) == " 9")
        bytes.remove(end - 2, 2);
    else
        bytes.insert(end, " 9");
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Failure(file.errorString(), file.fileName());
    ++c.next;
}

bool measurable(benchmark::State &state, const SyncCase &c) {
    if (!c.error.isEmpty())
        state.SkipWithError(c.error.toStdString().c_str());
    return c.error.isEmpty();
}

void syncIdle(benchmark::State &state, Workspace &ws) {
    SyncCase &c = syncCase(ws);
    if (!measurable(state, c))
        return;
    try {
        for (auto _ : state)
            syncRound(c, c.ctx.out);
    } catch (const Failure &f) {
        state.SkipWithError(f.reason().toStdString().c_str());
    }
}

void syncOne(benchmark::State &state, Workspace &ws) {
    SyncCase &c = syncCase(ws);
    if (!measurable(state, c))
        return;
    try {
        for (auto _ : state) {
            state.PauseTiming();
            changeEachSide(c);
            state.ResumeTiming();
            syncRound(c, c.ctx.out);
        }
        // The changes are through in one round: the idle round measures an idle round.
        std::FILE *report = std::tmpfile();
        const bool settled = syncRound(c, report);
        std::fclose(report);
        if (!settled)
            state.SkipWithError("a round after a change still changed something");
    } catch (const Failure &f) {
        state.SkipWithError(f.reason().toStdString().c_str());
    }
}

// What any round needs at least: the folder listed and each file's status read.
long listAndStat(const QByteArray &folder) {
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return -1;
    long files = 0;
    struct stat status;
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] != '.' &&
            ::fstatat(::dirfd(dir), e->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0)
            ++files;
    }
    ::closedir(dir);
    return files;
}

void statFolder(benchmark::State &state, Workspace &ws) {
    const SyncCase &c = syncCase(ws);
    if (!measurable(state, c))
        return;
    const QByteArray folder = QFile::encodeName(c.folder);
    for (auto _ : state)
        benchmark::DoNotOptimize(listAndStat(folder));
}

void add(const char *group, const char *op, void (*body)(benchmark::State &, Workspace &),
         Workspace &ws) {
    benchmark::RegisterBenchmark(benchmarkName(group, op, SyncSize).c_str(),
                                 [&ws, body](benchmark::State &state) { body(state, ws); })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace

void registerSyncBenchmarks(Workspace &ws) {
    add("cards", "sync-idle", syncIdle, ws);
    add("cards", "sync-one", syncOne, ws);
    add("limit", "list-stat", statFolder, ws);
}

void prepareSyncFixture(Workspace &ws) {
    syncCase(ws);
}

std::vector<Comparison> syncComparisons() {
    const std::string idle = benchmarkName("cards", "sync-idle", SyncSize);
    return {
        {"sync-idle", SyncSize, "stat", idle, benchmarkName("limit", "list-stat", SyncSize)},
        {"sync-one", SyncSize, "sync-idle", benchmarkName("cards", "sync-one", SyncSize), idle}};
}

} // namespace bench
