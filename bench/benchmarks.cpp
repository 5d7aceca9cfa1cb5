#include "benchmarks.h"

#include "cards_bench.h"
#include "import_bench.h"
#include "sync_bench.h"

#include "peak_memory.h"
#include "workspace.h"

#include "app/results_grid.h"
#include "app/search_edit_window.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <regex>
#include <unistd.h>

using meridoc::EntryRecord;

namespace bench {
namespace {

const std::vector<std::string> ChangingOps = {"append", "change", "delete"};

void add(const std::string &group, const std::string &op, int n,
         std::function<void(benchmark::State &)> body) {
    benchmark::RegisterBenchmark(benchmarkName(group, op, n).c_str(), std::move(body))
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

// A changing operation and its counterpart must leave the card file as large as they found it.
void checkIntact(benchmark::State &state, const CardCase &c) {
    if (!c.holdsAllEntries())
        state.SkipWithError("the card file no longer holds its n entries");
}

void registerCardFile(Workspace &ws, int n) {
    add("cardfile", "append", n, [&ws, n](benchmark::State &state) {
        CardCase &c = ws.card(n);
        c.makeCurrent();
        EntryRecord entry = c.freshEntry();
        for (auto _ : state) {
            CardCase::add(entry);
            state.PauseTiming();
            CardCase::remove(entry);
            entry = c.freshEntry();
            state.ResumeTiming();
        }
        checkIntact(state, c);
    });
    add("cardfile", "change", n, [&ws, n](benchmark::State &state) {
        CardCase &c = ws.card(n);
        c.makeCurrent();
        for (auto _ : state)
            c.change();
        checkIntact(state, c);
    });
    add("cardfile", "delete", n, [&ws, n](benchmark::State &state) {
        CardCase &c = ws.card(n);
        c.makeCurrent();
        EntryRecord entry = c.randomEntry();
        for (auto _ : state) {
            CardCase::remove(entry);
            state.PauseTiming();
            CardCase::add(entry);
            entry = c.randomEntry();
            state.ResumeTiming();
        }
        checkIntact(state, c);
    });
    add("cardfile", "scan", n, [&ws, n](benchmark::State &state) {
        ws.card(n).makeCurrent();
        for (auto _ : state)
            benchmark::DoNotOptimize(CardCase::scan());
    });
}

void registerLimits(Workspace &ws, int n) {
    add("limit", "copy", n, [&ws, n](benchmark::State &state) {
        const QString source = ws.card(n).path();
        const QString target = ws.dir() + QStringLiteral("copy.tmp");
        for (auto _ : state)
            copyWithSync(source, target);
        QFile::remove(target);
    });
    add("limit", "read", n, [&ws, n](benchmark::State &state) {
        const QString source = ws.card(n).path();
        for (auto _ : state)
            benchmark::DoNotOptimize(readSequentially(source));
    });
}

void registerSqlite(Workspace &ws, int n) {
    add("sqlite", "append", n, [&ws, n](benchmark::State &state) {
        SqliteCase &db = ws.sqlite(n);
        EntryRecord entry = db.freshEntry();
        for (auto _ : state) {
            const long long id = db.insert(entry);
            state.PauseTiming();
            db.remove(id);
            entry = db.freshEntry();
            state.ResumeTiming();
        }
    });
    add("sqlite", "change", n, [&ws, n](benchmark::State &state) {
        SqliteCase &db = ws.sqlite(n);
        for (auto _ : state)
            db.update();
    });
    add("sqlite", "delete", n, [&ws, n](benchmark::State &state) {
        SqliteCase &db = ws.sqlite(n);
        long long id = db.randomId();
        for (auto _ : state) {
            db.remove(id);
            state.PauseTiming();
            db.insertWithId(id);
            id = db.randomId();
            state.ResumeTiming();
        }
    });
    add("sqlite", "scan", n, [&ws, n](benchmark::State &state) {
        SqliteCase &db = ws.sqlite(n);
        for (auto _ : state)
            benchmark::DoNotOptimize(db.query());
    });
}

void registerSearchGrid(Workspace &ws, int n) {
    // RunSearch over the whole file with an empty search text: the grid is filled with every
    // entry. What the window then does for the new rows (layout, painting the visible ones) is
    // handled between the timed calls, so every call starts from a window at rest.
    add("search-grid", "runsearch", n, [&ws, n](benchmark::State &state) {
        TForm2 &form2 = ws.searchWindow(n);
        ws.card(n).makeCurrent();
        for (auto _ : state) {
            form2.RunSearch(1);
            state.PauseTiming();
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
        state.counters["rows"] = form2.grid().rowCount() - 1;
    });
    // The same with that handling timed as well: until the filled grid is on screen.
    add("search-grid", "shown", n, [&ws, n](benchmark::State &state) {
        TForm2 &form2 = ws.searchWindow(n);
        ws.card(n).makeCurrent();
        for (auto _ : state) {
            form2.RunSearch(1);
            QCoreApplication::processEvents();
        }
        state.counters["rows"] = form2.grid().rowCount() - 1;
    });
}

} // namespace

std::string benchmarkName(const std::string &group, const std::string &op, int n) {
    return group + '/' + op + '/' + std::to_string(n);
}

void registerBenchmarks(Workspace &workspace) {
    for (int n : Sizes) {
        registerCardFile(workspace, n);
        registerLimits(workspace, n);
        registerSqlite(workspace, n);
    }
    registerSearchGrid(workspace, SearchGridSize);
    registerCardsBenchmarks(workspace);
    registerImportBenchmarks(workspace);
    registerSyncBenchmarks(workspace);
}

void prepareFixtures(Workspace &ws, const std::string &filter) {
    const bool negative = !filter.empty() && filter[0] == '-';
    std::optional<std::regex> pattern;
    if (filter != "all" && filter != "." && !filter.empty()) {
        try {
            pattern.emplace(negative ? filter.substr(1) : filter, std::regex::extended);
        } catch (const std::regex_error &) {
            // Left to the benchmark library to report; everything is prepared meanwhile.
        }
    }
    const auto named = [&](const std::string &group, const std::string &op, int n) {
        return !pattern ||
               std::regex_search(benchmarkName(group, op, n) + "/real_time", *pattern) != negative;
    };
    const auto selected = [&](const std::string &group, int n) {
        for (const char *op : {"append", "change", "delete", "scan", "copy", "read", "runsearch",
                               "shown", "export"}) {
            if (named(group, op, n))
                return true;
        }
        return false;
    };
    for (int n : Sizes) {
        if (selected("cardfile", n) || selected("limit", n) || selected("cards", n))
            ws.card(n);
        if (selected("sqlite", n))
            ws.sqlite(n);
    }
    if (named("cards", "sync-idle", SyncSize) || named("cards", "sync-one", SyncSize) ||
        named("limit", "list-stat", SyncSize))
        prepareSyncFixture(ws);
    if (selected("search-grid", SearchGridSize)) {
        ws.searchWindow(SearchGridSize);
        QCoreApplication::processEvents();
    }
    ::sync();
}

std::vector<Comparison> comparisons() {
    std::vector<Comparison> out;
    for (int n : Sizes) {
        for (const std::string &op : ChangingOps)
            out.push_back({op, n, "copy", benchmarkName("cardfile", op, n),
                           benchmarkName("limit", "copy", n)});
        out.push_back({"scan", n, "read", benchmarkName("cardfile", "scan", n),
                       benchmarkName("limit", "read", n)});
        for (const char *op : {"append", "change", "delete", "scan"})
            out.push_back({op, n, "sqlite", benchmarkName("cardfile", op, n),
                           benchmarkName("sqlite", op, n)});
    }
    out.push_back({"search-grid", SearchGridSize, "scan",
                   benchmarkName("search-grid", "runsearch", SearchGridSize),
                   benchmarkName("cardfile", "scan", SearchGridSize)});
    for (const Comparison &c : cardsComparisons())
        out.push_back(c);
    for (const Comparison &c : importComparisons())
        out.push_back(c);
    for (const Comparison &c : syncComparisons())
        out.push_back(c);
    return out;
}

void printPeakMemory(Workspace &ws, const std::set<std::string> &ran, std::ostream &out) {
    constexpr int Rounds = 3;
    for (const std::string op : {"append", "change", "delete", "scan"}) {
        for (int n : Sizes) {
            if (!ran.count(benchmarkName("cardfile", op, n)))
                continue;
            CardCase &c = ws.card(n);
            c.makeCurrent();
            std::optional<long> peak;
            for (int round = 0; round < Rounds; ++round) {
                std::optional<long> kib;
                if (op == "append") {
                    const EntryRecord entry = c.freshEntry();
                    kib = peakGrowthKib([&] { CardCase::add(entry); });
                    CardCase::remove(entry);
                } else if (op == "change") {
                    kib = peakGrowthKib([&] { c.change(); });
                } else if (op == "delete") {
                    const EntryRecord entry = c.randomEntry();
                    kib = peakGrowthKib([&] { CardCase::remove(entry); });
                    CardCase::add(entry);
                } else {
                    kib = peakGrowthKib([&] { CardCase::scan(); });
                }
                if (kib)
                    peak = std::max(peak.value_or(0), *kib);
            }
            out << "MEMORY op=" << op << " n=" << n
                << " peak_kib=" << (peak ? std::to_string(*peak) : std::string("unavailable"))
                << '\n';
        }
    }
}

} // namespace bench
