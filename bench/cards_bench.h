#pragma once

#include "benchmarks.h"

#include <vector>

namespace bench {

// The companion tool's export: the largest card file written as vCard 3.0 to a file, and to
// standard output, compared with a plain scan of the same card file; and the floor of the first,
// the same bytes written and synced alone.
inline constexpr int CardsExportSize = 100000;
void registerCardsBenchmarks(Workspace &workspace);
std::vector<Comparison> cardsComparisons();

} // namespace bench
