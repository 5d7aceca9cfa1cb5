#pragma once

#include "benchmarks.h"

#include <vector>

namespace bench {

// The companion tool's export: the largest card file written as vCard 3.0 to a file, compared
// with a plain scan of the same card file.
inline constexpr int CardsExportSize = 100000;
void registerCardsBenchmarks(Workspace &workspace);
std::vector<Comparison> cardsComparisons();

} // namespace bench
