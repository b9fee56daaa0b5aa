#include "foundation/Clock.h"
#include "engine/DriveCopies.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/Journal.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

const std::string driveA = "drive-A";
const std::string driveB = "drive-B";

OffloadRecord add(Journal& journal, const std::string& relative, Phase phase = Phase::offloaded,
                  const std::string& drive = driveA) {
    return journal.insert(NewRecord{"/home/u/" + relative, drive, relative, false, 1, std::nullopt, phase,
                                    std::nullopt, std::nullopt});
}

// Which other records a drive copy holds: the same place or a place beneath it, on its
// own drive, letter case aside, while they are unfinished.
TEST(DriveCopiesTest, ACopyHoldsUnfinishedRecordsAtOrBeneathItsPlaceOnItsDrive) {
    struct Case {
        const char* name;
        std::string mine;
        std::string theirs;
        Phase phase;
        std::string drive;
        bool held;
    };
    const Case cases[] = {
        {"the same place", "K/M/Docs/a", "K/M/Docs/a", Phase::offloaded, driveA, true},
        {"beneath it", "K/M/Docs/a", "K/M/Docs/a/b/c.txt", Phase::linkMissing, driveA, true},
        {"beneath a place given as a folder", "K/M/Docs/a/", "K/M/Docs/a/c.txt", Phase::returned, driveA, true},
        {"a sibling sharing its start", "K/M/Docs/a", "K/M/Docs/ab", Phase::offloaded, driveA, false},
        {"inside such a sibling", "K/M/Docs/a", "K/M/Docs/ab/c.txt", Phase::offloaded, driveA, false},
        {"the folder above", "K/M/Docs/a", "K/M/Docs", Phase::offloaded, driveA, false},
        {"another letter case", "K/M/Docs/a", "k/m/DOCS/A/x", Phase::offloaded, driveA, true},
        {"another case beyond ASCII", "K/M/Docs/Ärger", "K/M/Docs/äRGER/x", Phase::offloadCopying, driveA, true},
        {"another drive", "K/M/Docs/a", "K/M/Docs/a/x", Phase::offloaded, driveB, false},
        {"restored", "K/M/Docs/a", "K/M/Docs/a/x", Phase::restored, driveA, false},
        {"abandoned", "K/M/Docs/a", "K/M/Docs/a", Phase::abandoned, driveA, false},
        {"superseded", "K/M/Docs/a", "K/M/Docs/a/x", Phase::superseded, driveA, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto journal = Journal::inMemory(Clock::system());
        add(*journal, "K/M/Docs/unrelated");
        const auto mine = add(*journal, c.mine);
        const auto theirs = add(*journal, c.theirs, c.phase, c.drive);
        EXPECT_EQ(DriveCopies(journal).heldInside(mine), c.held ? theirs.id : 0);
    }
}

// Kept across questions, the index follows whatever the journal says since: records added
// (through another connection too), records finished, and changes of a transaction that
// was rolled back, whose ids SQLite gives out again.
TEST(DriveCopiesTest, StaysInStepWithTheJournalAcrossQuestions) {
    test::TempDir folder;
    auto journal = Journal::open(folder / "journal.sqlite", Clock::system());
    const auto mine = add(*journal, "K/M/Album");
    DriveCopies copies(journal);
    EXPECT_EQ(copies.heldInside(mine), 0);

    const auto inside = add(*journal, "K/M/album/one.jpg");
    EXPECT_EQ(copies.heldInside(mine), inside.id) << "a record added since the last question";
    journal->setPhase(inside.id, Phase::restored);
    EXPECT_EQ(copies.heldInside(mine), 0) << "a record finished since";

    {
        Journal::Transaction transaction(*journal);
        const auto undone = add(*journal, "K/M/Album/two.jpg");
        EXPECT_EQ(copies.heldInside(mine), undone.id) << "a record the open transaction added";
    }
    EXPECT_EQ(copies.heldInside(mine), 0) << "the transaction was rolled back";
    const auto reused = add(*journal, "K/M/Elsewhere.jpg");  // takes the rolled-back id
    EXPECT_EQ(copies.heldInside(mine), 0) << "an id given again, elsewhere";
    const auto again = add(*journal, "K/M/Album/three.jpg");
    EXPECT_EQ(copies.heldInside(mine), again.id);
    journal->setPhase(again.id, Phase::superseded);
    journal->setPhase(reused.id, Phase::superseded);

    // Another writer of the same journal file, as another process would be.
    auto other = Journal::open(folder / "journal.sqlite", Clock::system());
    add(*other, "K/M/Album", Phase::offloaded, driveB);
    const auto elsewhere = add(*other, "K/M/ALBUM/four.jpg");
    EXPECT_EQ(copies.heldInside(mine), elsewhere.id);
}

// A first question asked inside a transaction keeps nothing of what it read: what that
// transaction added is gone once it rolls back.
TEST(DriveCopiesTest, AFirstReadInsideATransactionIsNotKept) {
    auto journal = Journal::inMemory(Clock::system());
    const auto mine = add(*journal, "K/M/Album");
    DriveCopies copies(journal);
    {
        Journal::Transaction transaction(*journal);
        const auto undone = add(*journal, "K/M/Album/two.jpg");
        EXPECT_EQ(copies.heldInside(mine), undone.id);
    }
    EXPECT_EQ(copies.heldInside(mine), 0);
    add(*journal, "K/M/Elsewhere.jpg");  // takes the rolled-back id
    EXPECT_EQ(copies.heldInside(mine), 0);
    const auto again = add(*journal, "K/M/Album/three.jpg");
    EXPECT_EQ(copies.heldInside(mine), again.id);
}

}  // namespace
}  // namespace keldwick
