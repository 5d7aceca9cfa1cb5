#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/cardmerge.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace meridoc;
using testsupport::TempProgramDir;

namespace {

// Few surnames, and names differing only in case, so that equal keys and equal entries abound.
std::vector<EntryRecord> randomRecords(int n, quint32 seed) {
    QRandomGenerator rng(seed);
    std::vector<EntryRecord> out;
    for (int i = 0; i < n; ++i) {
        out.push_back(EntryRecord::fromFields({rng.bounded(2) ? "anna" : "ANNA",
                                               "S" + QByteArray::number(rng.bounded(40)),
                                               QByteArray::number(rng.bounded(30)), "", ""}));
        out.back().bytes[EntryRecord::Size - 1] = char(rng.bounded(256)); // junk after COMMENTS
    }
    return out;
}

QByteArray bytesOf(const std::vector<EntryRecord> &records) {
    QByteArray out;
    for (const EntryRecord &r : records)
        out.append(reinterpret_cast<const char *>(r.bytes.data()), EntryRecord::Size);
    return out;
}

} // namespace

// The merge gives what appending every new entry one by one and sorting afterwards gives.
TEST(CardMerge, EqualsAppendingEachNewEntryThenSorting) {
    std::vector<EntryRecord> sortedRecords = randomRecords(3000, 1);
    std::stable_sort(sortedRecords.begin(), sortedRecords.end(),
                     [](const auto &a, const auto &b) { return SortKey(a) < SortKey(b); });
    const QByteArray sorted = bytesOf(sortedRecords);
    const struct {
        const char *what;
        std::optional<QByteArray> existing; // nothing: no card file yet
        int batch;
    } cases[] = {
        {"sorted", sorted, 700},
        {"unsorted", bytesOf(randomRecords(2500, 2)), 700},
        {"partial tail", sorted + "tail", 50},
        {"missing", std::nullopt, 300},
        {"empty", QByteArray(), 1},
        {"nothing new, tail kept", sorted.left(135 * 40) + "tail", 0},
        {"missing, nothing new", std::nullopt, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<EntryRecord> batch = randomRecords(c.batch, 3);

        TempProgramDir reference;
        reference.useCardFile("home", "crd");
        reference.write("home.crd", c.existing.value_or(QByteArray()));
        QList<EntryKey> seen;
        for (const auto &f : testsupport::recordsOf(c.existing.value_or(QByteArray())))
            seen.append(EntryKey(EntryRecord::fromFields(f)));
        std::vector<bool> expectSkipped;
        for (const EntryRecord &r : batch) {
            expectSkipped.push_back(seen.contains(EntryKey(r)));
            if (!expectSkipped.back()) {
                seen.append(EntryKey(r));
                AppendEntry(CardFilePath(), r);
            }
        }
        SortCardFile();

        TempProgramDir dir;
        dir.useCardFile("home", "crd");
        if (c.existing)
            dir.write("home.crd", *c.existing);
        {
            CardMerge merge(CardFilePath(), batch, true);
            EXPECT_EQ(merge.skipped(), expectSkipped);
            merge.commit();
        }
        EXPECT_EQ(dir.read("home.crd"), reference.read("home.crd"));
        EXPECT_EQ(dir.entries(), QStringList{"home.crd"});
    }
}
