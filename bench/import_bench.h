#pragma once

#include "benchmarks.h"

namespace bench {

// The companion tool's import: a full import of n vCards into an empty card file, against
// reading the same vCards alone.
inline constexpr int ImportSize = 10000;
void registerImportBenchmarks(Workspace &workspace);
Comparison importComparison();

} // namespace bench
