#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

#include "foundation/ItemName.h"
#include "foundation/JournalRecords.h"

using namespace keldwick;

TEST(PhaseTest, StoredStringsAndSets) {
    const char* strings[] = {"offload-copying", "offload-verified", "offload-swapping", "offload-cleanup",
                             "offloaded",       "restore-copying",  "restore-swapping", "restore-cleanup",
                             "restored",        "abandoned",        "superseded",       "returned",
                             "link-missing"};
    std::set<Phase> inFlight, finished;
    for (size_t i = 0; i < allPhases.size(); ++i) {
        const Phase phase = allPhases[i];
        EXPECT_EQ(static_cast<size_t>(phase), i);
        EXPECT_EQ(toString(phase), strings[i]);
        EXPECT_EQ(parsePhase(strings[i]), phase);
        if (isInFlight(phase)) inFlight.insert(phase);
        if (isFinished(phase)) finished.insert(phase);
    }
    EXPECT_EQ(inFlight, (std::set<Phase>{Phase::offloadCopying, Phase::offloadVerified, Phase::offloadSwapping,
                                         Phase::offloadCleanup, Phase::restoreCopying, Phase::restoreSwapping,
                                         Phase::restoreCleanup}));
    EXPECT_EQ(finished, (std::set<Phase>{Phase::restored, Phase::abandoned, Phase::superseded}));
    EXPECT_FALSE(parsePhase("Offloaded"));
    EXPECT_FALSE(parsePhase("link_missing"));
    EXPECT_FALSE(parsePhase(""));

    EXPECT_EQ(parseEventLevel("warning"), EventLevel::warning);
    EXPECT_EQ(toString(EventLevel::error), "error");
    EXPECT_FALSE(parseEventLevel("Info"));
}

TEST(OffloadRecordTest, DrivePathJoinsWithOneSlash) {
    OffloadRecord record;
    record.driveRelativePath = "Keldwick/Mac/Users/a/b.txt";
    EXPECT_EQ(record.drivePath("/media/u/Drive"), "/media/u/Drive/Keldwick/Mac/Users/a/b.txt");
    EXPECT_EQ(record.drivePath("/media/u/Drive/"), "/media/u/Drive/Keldwick/Mac/Users/a/b.txt");
    record.driveRelativePath = "";
    EXPECT_EQ(record.drivePath("/media/u/Drive/"), "/media/u/Drive/");
}

TEST(OffloadRecordTest, NamesAndEquality) {
    OffloadRecord record;
    record.originalPath = "/home/u/Projects/Old Stuff/";
    EXPECT_EQ(record.name(), "Old Stuff");
    EXPECT_EQ(ItemName::display(record.originalPath), "Old Stuff");
    record.originalPath = "/home/u/a.txt";
    EXPECT_EQ(record.name(), "a.txt");

    OffloadRecord later = record;
    later.updatedAt = record.updatedAt.adding(0.001);
    EXPECT_NE(record, later);
    OffloadRecord noted = record;
    noted.error = "";
    EXPECT_NE(record, noted);  // an empty message is not an absent one
    std::unordered_set<OffloadRecord> set{record, record, later};
    EXPECT_EQ(set.size(), 2u);
}
