#pragma once

#include "benchmarks.h"

#include <ostream>
#include <set>
#include <string>

namespace bench {

// The companion tool's import: a full import of n vCards into an empty card file, against
// reading the same vCards alone.
inline constexpr int ImportSize = 10000;
void registerImportBenchmarks(Workspace &workspace);
std::vector<Comparison> importComparisons();

// When the import or parse benchmark ran: one MEMORY line per size of an import of contacts with
// notes (10k, 100k, 1M), and one for a 200 MB input of a single line. The imports are dry runs (the
// same reading, merging and staging, without writing thousands of extra texts), so the largest
// takes minutes, not hours.
void printImportMemory(Workspace &workspace, const std::set<std::string> &ran, std::ostream &out);

} // namespace bench
