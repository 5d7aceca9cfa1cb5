#include "cards_bench.h"

#include "workspace.h"

#include "cards/export.h"
#include "cards/output.h"
#include "data/appstate.h"

#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace bench {
namespace {

using meridoc::cards::CommandContext;
using meridoc::cards::ExportFormat;
using meridoc::cards::ExportRequest;
using meridoc::cards::RunExport;

void add(const char *op, int n, void (*body)(benchmark::State &, Workspace &, int), Workspace &ws) {
    benchmark::RegisterBenchmark(benchmarkName("cards", op, n).c_str(),
                                 [&ws, n, body](benchmark::State &state) { body(state, ws, n); })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

CommandContext contextFor(Workspace &ws, int n) {
    ws.card(n).makeCurrent();
    CommandContext ctx;
    ctx.programDir = meridoc::AppState.ProgramDir;
    ctx.cardBaseName = meridoc::AppState.CurrentFileName;
    ctx.extension = meridoc::AppState.CardExtension;
    return ctx;
}

// The export to a file, written durably (synced, then renamed over the target).
void exportToFile(benchmark::State &state, Workspace &ws, int n) {
    const CommandContext ctx = contextFor(ws, n);
    const QString target = ws.dir() + QStringLiteral("export.vcf");
    const ExportRequest request{ExportFormat::VCard3, target, {}};
    for (auto _ : state)
        RunExport(ctx, request);
    QFile::remove(target);
}

// The same export to standard output, here a stream into /dev/null: the work without the disk.
void exportToStream(benchmark::State &state, Workspace &ws, int n) {
    CommandContext ctx = contextFor(ws, n);
    ctx.out = std::fopen("/dev/null", "w");
    for (auto _ : state)
        RunExport(ctx, ExportRequest{ExportFormat::VCard3, {}, {}});
    std::fclose(ctx.out);
}

// The floor of a durable export: the bytes of the export alone written the way the export
// writes them (a megabyte at a time, synced, renamed).
void writeExportBytes(benchmark::State &state, Workspace &ws, int n) {
    const CommandContext ctx = contextFor(ws, n);
    const QString target = ws.dir() + QStringLiteral("export.vcf");
    RunExport(ctx, ExportRequest{ExportFormat::VCard3, target, {}});
    QFile file(target);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    file.close();
    constexpr qsizetype Piece = 1024 * 1024;
    for (auto _ : state) {
        meridoc::cards::AtomicFile out(target);
        for (qsizetype at = 0; at < bytes.size(); at += Piece)
            out.write(QByteArrayView(bytes).sliced(at, std::min(Piece, bytes.size() - at)));
        out.commit();
    }
    state.counters["bytes"] = double(bytes.size());
    QFile::remove(target);
}

} // namespace

void registerCardsBenchmarks(Workspace &ws) {
    add("export", CardsExportSize, exportToFile, ws);
    add("export-stdout", CardsExportSize, exportToStream, ws);
    add("write-fsync", CardsExportSize, writeExportBytes, ws);
}

std::vector<Comparison> cardsComparisons() {
    const int n = CardsExportSize;
    const std::string scan = benchmarkName("cardfile", "scan", n);
    std::vector<Comparison> out;
    for (const char *op : {"export", "export-stdout", "write-fsync"})
        out.push_back({op, n, "scan", benchmarkName("cards", op, n), scan});
    // What a durable export costs over writing its bytes durably.
    out.push_back({"export", n, "write-fsync", benchmarkName("cards", "export", n),
                   benchmarkName("cards", "write-fsync", n)});
    return out;
}

} // namespace bench
