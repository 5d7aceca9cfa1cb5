#pragma once

#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace bench {

class Workspace;

// The card-file sizes measured: a typical address book, a large one and a huge one.
inline const std::vector<int> Sizes = {1000, 10000, 100000};
inline constexpr int SearchGridSize = 100000;

// A benchmark's name: "<group>/<op>/<n>", for instance "cardfile/append/1000".
std::string benchmarkName(const std::string &group, const std::string &op, int n);

// Registers every benchmark: per size the program's operations, the file-system limits and
// SQLite; then the search into the grid. (By default their repetitions run interleaved.)
void registerBenchmarks(Workspace &workspace);

// Makes, ahead of the run, the card files, databases and windows the benchmarks selected by
// `filter` (Google Benchmark's --benchmark_filter) will use, then flushes every file system, so
// that neither making them nor the write-back of what they wrote falls into a measurement.
void prepareFixtures(Workspace &workspace, const std::string &filter);

// One comparison printed at the end: the time of `numerator` divided by that of `denominator`.
struct Comparison {
    std::string op;
    int n;
    std::string vs;
    std::string numerator;
    std::string denominator;
};
std::vector<Comparison> comparisons();

// Measures the peak memory growth of each card-file operation whose benchmark ran (named in
// `ran`) and prints one "MEMORY op=<op> n=<n> peak_kib=<k>" line per operation and size.
void printPeakMemory(Workspace &workspace, const std::set<std::string> &ran, std::ostream &out);

} // namespace bench
