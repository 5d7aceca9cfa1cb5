#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/cardmerge.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

using namespace meridoc;
using testsupport::cardFileBytes;
using testsupport::Fields;
using testsupport::recordBytes;
using testsupport::TempProgramDir;

namespace {

// Few surnames and names differing only in case, so that equal keys and equal entries abound.
Fields randomFields(QRandomGenerator &rng) {
    return {rng.bounded(2) ? "anna" : "ANNA", "S" + QByteArray::number(rng.bounded(40)),
            QByteArray::number(rng.bounded(30)), "", ""};
}

QByteArray randomRecords(int n, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += recordBytes(randomFields(rng), char(rng.bounded(256)));
    return out;
}

std::vector<EntryRecord> randomBatch(int n, quint32 seed) {
    QRandomGenerator rng(seed);
    std::vector<EntryRecord> out;
    for (int i = 0; i < n; ++i)
        out.push_back(EntryRecord::fromFields(randomFields(rng)));
    return out;
}

} // namespace

// The merge gives what appending every new entry one by one and sorting afterwards gives.
TEST(CardMerge, EqualsAppendingEachNewEntryThenSorting) {
    QByteArray sorted = randomRecords(3000, 1);
    {
        TempProgramDir dir;
        dir.useCardFile("home", "crd");
        dir.write("home.crd", sorted);
        SortCardFile();
        sorted = dir.read("home.crd");
    }
    const struct {
        const char *what;
        std::optional<QByteArray> existing; // nothing: no card file yet
        int batch;
    } cases[] = {
        {"sorted", sorted, 700},
        {"unsorted", randomRecords(2500, 2), 700},
        {"partial tail", sorted + "tail", 50},
        {"missing", std::nullopt, 300},
        {"empty", QByteArray(), 1},
        {"nothing new, tail kept", sorted.left(135 * 40) + "tail", 0},
        {"missing, nothing new", std::nullopt, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<EntryRecord> batch = randomBatch(c.batch, 3);

        TempProgramDir reference;
        reference.useCardFile("home", "crd");
        reference.write("home.crd", c.existing.value_or(QByteArray()));
        QList<EntryKey> seen;
        for (const Fields &f : testsupport::recordsOf(c.existing.value_or(QByteArray())))
            seen.append(EntryKey(EntryRecord::fromFields(f)));
        std::vector<bool> expectSkipped;
        for (const EntryRecord &r : batch) {
            expectSkipped.push_back(seen.contains(EntryKey(r)));
            if (expectSkipped.back())
                continue;
            seen.append(EntryKey(r));
            RecordBuffer = EntryRecord{};
            AppendEntry(r.fields());
        }
        SortCardFile();

        TempProgramDir dir;
        dir.useCardFile("home", "crd");
        if (c.existing)
            dir.write("home.crd", *c.existing);
        {
            CardMerge merge(batch, true);
            EXPECT_EQ(merge.skipped(), expectSkipped);
            merge.commit();
        }
        EXPECT_EQ(dir.read("home.crd"), reference.read("home.crd"));
        EXPECT_EQ(dir.entries(), QStringList{"home.crd"});
    }
}

// Without writing, or without a commit, nothing changes and nothing is left behind.
TEST(CardMerge, UncommittedMergeChangesNothing) {
    for (const bool write : {false, true}) {
        TempProgramDir dir;
        dir.useCardFile("home", "crd");
        const QByteArray bytes = cardFileBytes({{"B", "Y", "", "", ""}, {"A", "X", "", "", ""}});
        dir.write("home.crd", bytes);
        const std::vector<EntryRecord> batch = randomBatch(5, 4);
        {
            CardMerge merge(batch, write);
            EXPECT_EQ(dir.exists("temp.tmp"), write);
        }
        EXPECT_EQ(dir.read("home.crd"), bytes);
        EXPECT_EQ(dir.entries(), QStringList{"home.crd"});
    }
}
