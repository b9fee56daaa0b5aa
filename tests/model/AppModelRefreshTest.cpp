// The model's refresh reads the disk off the main thread: the main thread keeps ticking
// while the journal is slow, only the latest refresh applies, and a journal that can't be
// read keeps what was shown and says so.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

#include "foundation/Clock.h"
#include "model/ModelFakes.h"
#include "model/RefreshReading.h"
#include "model/StatusTexts.h"

namespace keldwick::test {
namespace {

// Counts the main thread's timer ticks, as a window's animation would see them.
struct Ticker {
    QTimer timer;
    int ticks = 0;
    Ticker() {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start(1);
    }
};

class AppModelRefreshTest : public ::testing::Test {
protected:
    ModelWorld world;

    std::unique_ptr<AppModel> readyModel() {
        world.writeReadySettings();
        world.locator->set(world.drive.id, world.driveRoot);
        return world.make();
    }
};

TEST_F(AppModelRefreshTest, AfterWorkTheMainThreadTicksWhileTheJournalIsRead) {
    auto model = readyModel();
    ASSERT_TRUE(refreshed(*model));
    model->journal()->insert(recordOn(world.home + "/a.mov", world.drive.id));
    JournalHold hold(*model->journal());

    bool done = false;
    model->operations().perform<int>(
        Activity::moving, nullptr,
        [](EngineOperations&, const EngineOperations::Cancel&, const EngineOperations::Progress&) { return 1; },
        [&](EngineOutcome<int>) { done = true; });
    model->refresh();  // as the panel does when it opens
    Ticker ticker;
    ASSERT_TRUE(pumpUntil([&] { return ticker.ticks >= 30; }));
    // Still reading: the work is not settled and nothing was applied.
    EXPECT_FALSE(done);
    EXPECT_EQ(model->state().activity, Activity::moving);
    EXPECT_TRUE(model->state().records.empty());

    hold.release();
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_EQ(model->state().activity, Activity::idle);
    EXPECT_FALSE(model->operations().currentJob());
    EXPECT_EQ(model->state().records.size(), 1u);
}

TEST_F(AppModelRefreshTest, OnlyTheLatestRefreshApplies) {
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto held = std::make_shared<HeldExecutor>();
    AppServices services = world.services();
    services.background = held;
    auto model = std::make_unique<AppModel>(AppEnvironment{world.home, world.support, world.locator, {}},
                                            std::move(services));
    FieldChanges records(model->store(), ModelField::records);
    std::vector<std::string> called;
    model->refresh([&] { called.push_back("first"); });
    model->journal()->insert(recordOn(world.home + "/a.mov", world.drive.id));
    model->refresh([&] { called.push_back("second"); });
    ASSERT_EQ(held->held(), 2u);

    // The newer one ends first: it applies, and both callers hear of it, in order.
    held->runHeld(1);
    ASSERT_TRUE(pumpUntil([&] { return called.size() == 2; }));
    EXPECT_EQ(called, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(model->state().records.size(), 1u);
    EXPECT_EQ(records.count(), 1);

    // The overtaken one ends last, whatever it read: it is dropped.
    model->journal()->insert(recordOn(world.home + "/b.mov", world.drive.id));
    held->runHeld(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->state().records.size(), 1u);
    EXPECT_EQ(records.count(), 1);
    EXPECT_EQ(called.size(), 2u);
}

TEST_F(AppModelRefreshTest, AReadingMadeForADriveNoLongerChosenIsReadAgain) {
    world.writeReadySettings();
    const Drive second{"6F1C2A5E-0000-4000-8000-000000000002", "Second"};
    const std::string secondRoot = world.dir / "second";
    makeDirs(secondRoot);
    world.locator->set(world.drive.id, world.driveRoot);
    world.locator->set(second.id, secondRoot);
    auto held = std::make_shared<HeldExecutor>();
    AppServices services = world.services();
    services.background = held;
    auto model = std::make_unique<AppModel>(AppEnvironment{world.home, world.support, world.locator, {}},
                                            std::move(services));
    bool applied = false;
    model->refresh([&] { applied = true; });
    model->settings().update([&](AppSettings& settings) { settings.drive = second; });
    ASSERT_EQ(model->state().driveRoot, secondRoot);
    const size_t before = held->held();

    held->runHeld(0);  // read for the first drive
    QCoreApplication::processEvents();
    EXPECT_EQ(model->state().driveRoot, secondRoot);
    EXPECT_FALSE(applied);
    ASSERT_EQ(held->held(), before);  // one read again in its place

    held->runHeld(before - 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(applied);
    EXPECT_EQ(model->state().driveRoot, secondRoot);
}

TEST_F(AppModelRefreshTest, AJournalThatFailsToReadKeepsWhatWasShownAndSaysSo) {
    for (const std::string table : {"records", "pins"}) {
        ModelWorld world;
        world.writeReadySettings();
        world.locator->set(world.drive.id, world.driveRoot);
        auto model = world.make();
        auto& journal = *model->journal();
        journal.insert(recordOn(world.home + "/a.mov", world.drive.id));
        journal.pin(world.home + "/Keep");
        ASSERT_TRUE(refreshed(*model));
        const auto shownRecords = model->state().records;
        ASSERT_EQ(shownRecords.size(), 1u);
        FieldChanges recordsChanged(model->store(), ModelField::records);
        FieldChanges pinsChanged(model->store(), ModelField::pins);

        journal.db().exec("ALTER TABLE " + table + " RENAME TO " + table + "_away");
        ASSERT_TRUE(refreshed(*model));
        EXPECT_EQ(model->state().records, shownRecords) << table;
        EXPECT_EQ(model->state().pins, std::vector<std::string>{world.home + "/Keep"}) << table;
        EXPECT_EQ(recordsChanged.count(), 0) << table;
        EXPECT_EQ(pinsChanged.count(), 0) << table;
        ASSERT_TRUE(model->state().journalProblem) << table;
        EXPECT_NE(model->state().journalProblem->find(table), std::string::npos) << *model->state().journalProblem;
        EXPECT_FALSE(canOffload(model->state()));
        EXPECT_EQ(statusText(model->state()).headline, "Keldwick can't open its records");

        // Readable again: the problem is gone at the next refresh.
        journal.db().exec("ALTER TABLE " + table + "_away RENAME TO " + table);
        ASSERT_TRUE(refreshed(*model));
        EXPECT_FALSE(model->state().journalProblem) << table;
        EXPECT_TRUE(canOffload(model->state()));
        EXPECT_EQ(model->state().records, shownRecords) << table;
    }
}

// The records are held once: a refresh that reads the same records keeps the very list
// the model and its windows share, a copy of the state shares it too, and a refresh that
// reads a change replaces the list without touching a copy taken before.
TEST_F(AppModelRefreshTest, TheRecordsAreSharedUntilARefreshReadsAChange) {
    auto model = readyModel();
    auto& journal = *model->journal();
    const int64_t id = journal.insert(recordOn(world.home + "/a.mov", world.drive.id)).id;
    journal.insert(recordOn(world.home + "/b.mov", world.drive.id));
    ASSERT_TRUE(refreshed(*model));
    const RecordList shown = model->state().records;
    ASSERT_EQ(shown.size(), 2u);
    const ModelState copy = model->state();
    EXPECT_TRUE(copy.records.sharesWith(shown));

    FieldChanges recordsChanged(model->store(), ModelField::records);
    ASSERT_TRUE(refreshed(*model));
    EXPECT_TRUE(model->state().records.sharesWith(shown));
    EXPECT_EQ(recordsChanged.count(), 0);

    journal.setPhase(id, Phase::linkMissing);
    ASSERT_TRUE(refreshed(*model));
    EXPECT_EQ(recordsChanged.count(), 1);
    EXPECT_FALSE(model->state().records.sharesWith(shown));
    const auto phaseOf = [](const RecordList& records, int64_t wanted) {
        for (const auto& record : records)
            if (record.id == wanted) return record.phase;
        return Phase::abandoned;
    };
    EXPECT_EQ(phaseOf(model->state().records, id), Phase::linkMissing);
    EXPECT_EQ(phaseOf(shown, id), Phase::offloaded);

    // A list edited where it is shared is copied first.
    RecordList edited = shown;
    edited.push_back(shown.front());
    EXPECT_EQ(edited.size(), 3u);
    EXPECT_EQ(shown.size(), 2u);
}

// A refresh over a journal that has not changed since the last reading reads no record
// (at rest the periodic check then costs nothing that grows with the records); any change
// to the journal, by this connection or another, is read in full.
TEST_F(AppModelRefreshTest, AnUnchangedJournalIsNotReadAgain) {
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto journal = Journal::open(world.dir / "journal.sqlite", Clock::system());
    auto other = Journal::open(world.dir / "journal.sqlite", Clock::system());
    journal->insert(recordOn(world.home + "/a.mov", world.drive.id));
    journal->insert(recordOn(world.home + "/b.mov", world.drive.id, Phase::restored));
    AppServices services = world.services();
    RefreshSources sources{world.home, world.drive, journal, world.locator, services.facts, {}, {}, std::nullopt, {}};

    auto read = [&] {
        RefreshReading reading = readRefresh(sources);
        EXPECT_FALSE(reading.journalError);
        // As the model keeps a reading.
        sources.shown = *reading.records;
        sources.recordsStamp = reading.recordsStamp;
        sources.restored = reading.restored;
        return reading;
    };
    RefreshReading first = read();
    EXPECT_TRUE(first.recordsRead);
    ASSERT_EQ(first.records->size(), 1u);
    EXPECT_EQ(first.restored.size(), 1u);

    RefreshReading again = read();
    EXPECT_FALSE(again.recordsRead);
    EXPECT_TRUE(again.records->sharesWith(first.records.value()));
    EXPECT_TRUE(again.restored.sharesWith(first.restored));
    EXPECT_TRUE(again.hasBroughtFilesBack);

    other->insert(recordOn(world.home + "/c.mov", world.drive.id));
    RefreshReading afterOther = read();
    EXPECT_TRUE(afterOther.recordsRead);
    EXPECT_EQ(afterOther.records->size(), 2u);

    journal->setPhase(afterOther.records->front().id, Phase::linkMissing);
    RefreshReading afterOwn = read();
    EXPECT_TRUE(afterOwn.recordsRead);
    EXPECT_EQ(afterOwn.records->front().phase, Phase::linkMissing);
    EXPECT_FALSE(read().recordsRead);
}

}  // namespace
}  // namespace keldwick::test
