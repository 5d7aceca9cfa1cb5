#pragma once

#include "benchmarks.h"

#include <vector>

namespace bench {

// The two-way sync between a card file of 10,000 entries (some with extra texts) and its sync
// folder, synced once before: a round with nothing changed, and a round with one contact changed
// on each side; against listing the folder and reading each file's status.
inline constexpr int SyncSize = 10000;
void registerSyncBenchmarks(Workspace &workspace);
std::vector<Comparison> syncComparisons();

// Makes the card file and its synced folder ahead of the run (the first sync writes 10,000 files).
void prepareSyncFixture(Workspace &workspace);

} // namespace bench
