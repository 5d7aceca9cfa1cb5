#include "cards_bench.h"

#include "workspace.h"

#include "cards/export.h"

#include <QFile>

#include <benchmark/benchmark.h>

namespace bench {

void registerCardsBenchmarks(Workspace &ws) {
    const int n = CardsExportSize;
    benchmark::RegisterBenchmark(benchmarkName("cards", "export", n).c_str(),
                                 [&ws, n](benchmark::State &state) {
                                     ws.card(n).makeCurrent();
                                     meridoc::cards::CommandContext ctx;
                                     ctx.programDir = ws.dir();
                                     const QString target = ws.dir() + QStringLiteral("export.vcf");
                                     const meridoc::cards::ExportRequest request{
                                         meridoc::cards::ExportFormat::VCard3, target, {}};
                                     for (auto _ : state)
                                         meridoc::cards::RunExport(ctx, request);
                                     QFile::remove(target);
                                 })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

std::vector<Comparison> cardsComparisons() {
    return {{"export", CardsExportSize, "scan", benchmarkName("cards", "export", CardsExportSize),
             benchmarkName("cardfile", "scan", CardsExportSize)}};
}

} // namespace bench
