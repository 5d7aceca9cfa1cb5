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

// Registers every benchmark, in the order they run: per size the program's operations, then
// the file-system limits, then SQLite; the search into the grid last.
void registerBenchmarks(Workspace &workspace);

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
