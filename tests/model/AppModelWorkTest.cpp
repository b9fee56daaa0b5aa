// The model's own work over a real temporary home and a folder drive, with the core's
// scanner and engine: days of checks with hand-driven time, the preview, hand-picked
// moves and restores. Every moved item's bytes are compared afterwards.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "drives/DriveLayout.h"
#include "engine/EngineConfiguration.h"
#include "foundation/DriveManifest.h"
#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/VolumeSpace.h"
#include "model/ModelFakes.h"
#include "model/StatusTexts.h"
#include "scanning/SettingsStore.h"
#include "support/FaultActions.h"

namespace keldwick::test {
namespace {

constexpr int64_t MB = 1'000'000;

// The core's engine, each of whose moves fails once its copy is made, as on a read error.
class FailingMoves final : public EngineOperations {
public:
    explicit FailingMoves(const EngineSpec& spec)
        : engine_(spec.journal, spec.drive, spec.locator, std::make_shared<ProcessOpenFileChecker>(), spec.rules,
                  failing(), std::make_shared<NoIconPlacing>(), spec.configuration) {}

    const Drive& drive() const override { return engine_.drive(); }
    RunSummary run(const OffloadPlan& plan, bool dryRun, const Cancel& cancel, const Progress& progress) override {
        return engine_.run(plan, dryRun, cancel, progress);
    }
    OffloadRecord restore(int64_t id, const Cancel& cancel, const Progress& progress) override {
        return engine_.restore(id, cancel, progress);
    }
    OffloadRecord restoreAsCopy(int64_t id, const Cancel& cancel, const Progress& progress) override {
        return engine_.restoreAsCopy(id, cancel, progress);
    }
    RunSummary restoreAll(const Cancel& cancel, const Progress& progress) override {
        return engine_.restoreAll(cancel, progress);
    }
    void discardDriveCopy(int64_t id) override { engine_.discardDriveCopy(id); }
    std::vector<RecoveryResult> recover() override { return engine_.recover(); }

private:
    static std::shared_ptr<FaultInjecting> failing() {
        auto faults = std::make_shared<FaultActions>();
        faults->at(FaultPoint::offloadCopied, [](const FaultContext&) { throw std::runtime_error("read error"); });
        return faults;
    }
    OffloadEngine engine_;
};

// A test item's bytes: a line naming it, then zeros up to its size.
struct Made {
    int64_t size = 0;
    std::string head;
};

class ModelWorkTest : public ::testing::Test {
protected:
    ModelWorld world;
    std::string downloads = world.home + "/Downloads";
    int64_t computerBase = 900 * MB;             // the computer's free space before anything moves
    std::optional<int64_t> driveFree;       // none: the drive folder's real free space
    std::map<std::string, Made> items;      // by the path the item's bytes are expected at
    std::unique_ptr<AppModel> model;
    EngineFactory engines = CoreEngine::factory();

    ModelWorkTest() { makeDirs(downloads); }

    // An item last used 100 days ago: a name, then allocated zeros.
    std::string make(const std::string& name, int64_t size) {
        const std::string path = downloads + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        const std::string head = "item " + name + "\n";
        EXPECT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
        EXPECT_EQ(::posix_fallocate(fd, 0, size), 0);
        const timespec old{static_cast<time_t>(Date::now().secondsSince1970) - 100 * 86'400, 0};
        const timespec times[2] = {old, old};
        EXPECT_EQ(::futimens(fd, times), 0);
        ::close(fd);
        items[path] = Made{size, head};
        return path;
    }

    bool isLink(const std::string& path) {
        auto stat = FileStat::peek(path);
        return stat && stat->isSymlink();
    }

    // What moved away frees space on the computer.
    int64_t computerFree() {
        int64_t free = computerBase;
        for (const auto& [path, made] : items)
            if (isLink(path)) free += made.size;
        return free;
    }

    // Reads the item through its link (or in place) and compares every byte.
    void expectIntact(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        const std::string& head = items[path].head;
        std::vector<char> buffer(1 << 20);
        int64_t offset = 0;
        bool same = true;
        while (in && same) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            for (std::streamsize i = 0; i < in.gcount(); ++i, ++offset) {
                const char expected = offset < static_cast<int64_t>(head.size()) ? head[offset] : '\0';
                if (buffer[i] != expected) same = false;
            }
        }
        EXPECT_TRUE(same) << path << " differs at " << offset;
        EXPECT_EQ(offset, items[path].size) << path;
    }

    void build(const std::function<void(AppSettings&)>& change = {}) {
        AppSettings settings;
        settings.onboardingComplete = true;
        settings.drive = world.drive;
        settings.managedFolders = {downloads};
        settings.thresholdBytes = 1'000'000'000;
        settings.targetBytes = 2'000'000'000;
        settings.automaticRunsApproved = true;
        settings.minimumItemMegabytes = 1;
        settings.clearCachesWhenLow = false;  // never near the caches of whoever runs the tests
        if (change) change(settings);
        SettingsStore{world.support + "/settings.json"}.save(settings);
        world.locator->set(world.drive.id, world.driveRoot);
        AppServices services = world.services();
        services.engines = engines;
        services.facts.availableBytes = [this](const std::string& path) -> std::optional<int64_t> {
            if (PathUtil::isInside(path, world.driveRoot)) return driveFree ? driveFree : VolumeSpace::availableBytes(path);
            return computerFree();
        };
        model = std::make_unique<AppModel>(AppEnvironment{world.home, world.support, world.locator, {}},
                                           services);
    }

    bool idle() { return !model->state().isChecking && model->state().activity == Activity::idle; }

    // Runs the event loop until `done` holds; moves of real bytes may take a while.
    bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > 120'000) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(1);
        }
        return true;
    }

    // Lets `seconds` of the model's life pass, each check ending before time moves on.
    void live(double seconds) {
        for (;;) {
            ASSERT_TRUE(waitFor([&] { return idle(); }));
            auto due = world.timers->nextDue();
            if (!due || *due > seconds) break;
            world.timers->advance(*due);
            seconds -= *due;
        }
        world.timers->advance(seconds);
        ASSERT_TRUE(waitFor([&] { return idle(); }));
    }

    void startAndSettle() {
        model->start();
        ASSERT_TRUE(waitFor([&] { return idle(); }));
    }

    std::vector<std::string> posted(const std::string& what) {
        std::vector<std::string> found;
        for (const auto& notice : world.notices->posted)
            if (notice.identifier == what || notice.title.starts_with(what)) found.push_back(notice.title);
        return found;
    }
};

TEST_F(ModelWorkTest, LowSpaceRunsOnceFreeingJustEnoughThenTheDayStaysQuiet) {
    computerBase = 999'999'999;  // one byte under the keep-free level: 1,000,000,001 bytes to free
    const std::string big = make("big.iso", 700 * MB);
    const std::string middle = make("middle.iso", 400 * MB);
    const std::string small = make("small.iso", 300 * MB);
    build();
    startAndSettle();
    live(86'400);

    // The two largest are enough; the third stays, and no further run follows.
    EXPECT_TRUE(isLink(big));
    EXPECT_TRUE(isLink(middle));
    EXPECT_FALSE(isLink(small));
    for (const auto& [path, made] : items) expectIntact(path);
    EXPECT_EQ(posted("Freed up ").size(), 1u);
    EXPECT_EQ(model->state().lastRun, "Moved 2 files (1.10 GB) to Archive.");
    EXPECT_EQ(model->state().decision, AutomationDecision::idle());
    EXPECT_FALSE(model->state().stall);
    EXPECT_EQ(offloadedRecords(model->state()).size(), 2u);
}

TEST_F(ModelWorkTest, FirstRunAsksFirstAndApprovalIsNeverADecline) {
    const std::string a = make("a.mov", 3 * MB);
    const std::string b = make("b.mov", 2 * MB);
    build([](AppSettings& s) { s.automaticRunsApproved = false; });
    startAndSettle();
    live(3 * 3'600);

    // One question: the preview shows the check's plan at once; nothing moved.
    auto preview = model->preview();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->kind(), PreviewKind::firstAutomatic);
    EXPECT_FALSE(preview->keepAsking());  // no choice made yet
    EXPECT_FALSE(preview->isScanning());
    ASSERT_TRUE(preview->plan());
    EXPECT_EQ(preview->plan()->items.size(), 2u);
    EXPECT_EQ(posted("ask-first").size(), 1u);
    ASSERT_FALSE(model->state().windowRequests.empty());
    EXPECT_EQ(model->state().windowRequests.back().window, AppWindow::preview);
    EXPECT_FALSE(isLink(a) || isLink(b));

    // Approving with "ask me every time" runs the plan and leaves automatic runs unapproved;
    // the window closing afterwards records no decline.
    preview->setKeepAsking(true);
    bool approved = false;
    model->approvePreview(preview, [&] { approved = true; });
    EXPECT_FALSE(model->preview());
    model->previewClosed(preview.get());
    ASSERT_TRUE(waitFor([&] { return approved; }));
    EXPECT_FALSE(model->settings().firstRunDeclinedAt());
    EXPECT_FALSE(model->state().settings.automaticRunsApproved);
    EXPECT_TRUE(isLink(a) && isLink(b));
    for (const auto& [path, made] : items) expectIntact(path);

    // Closing a newer first-run preview without approving is a decline.
    make("c.mov", 2 * MB);
    live(3'600);
    ASSERT_TRUE(model->preview());
    model->dismissPreview();
    EXPECT_EQ(model->settings().firstRunDeclinedAt(), world.clock->now());
    const size_t asked = posted("ask-first").size();
    live(21'599);  // quiet for six hours
    EXPECT_EQ(posted("ask-first").size(), asked);
    live(60);
    EXPECT_EQ(posted("ask-first").size(), asked + 1);
}

// "Ask me before moving files" ticked in Settings: the first-run preview's "ask me every
// time" starts ticked, approving runs the plan and leaves the choice standing, and a new
// choice in Settings reaches a preview already open.
TEST_F(ModelWorkTest, ThePreviewStartsFromTheAskFirstChoiceAndApprovingKeepsIt) {
    const std::string a = make("a.mov", 3 * MB);
    build([](AppSettings& s) {
        s.automaticRunsApproved = false;
        s.askFirstChoice = true;
    });
    startAndSettle();
    live(3 * 3'600);
    auto preview = model->preview();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->kind(), PreviewKind::firstAutomatic);
    EXPECT_TRUE(preview->keepAsking());

    model->settings().update(SettingsChanges::toggleAutomaticRunsApproved(false));
    EXPECT_FALSE(preview->keepAsking());
    model->settings().update(SettingsChanges::toggleAutomaticRunsApproved(true));
    EXPECT_TRUE(preview->keepAsking());

    bool approved = false;
    model->approvePreview(preview, [&] { approved = true; });
    ASSERT_TRUE(waitFor([&] { return approved; }));
    EXPECT_TRUE(isLink(a));
    EXPECT_FALSE(model->state().settings.automaticRunsApproved);
    EXPECT_EQ(model->state().settings.askFirstChoice, true);
}

TEST_F(ModelWorkTest, TestModeMovesNothingAndRescansHourly) {
    const std::string a = make("a.mov", 3 * MB);
    build([](AppSettings& s) { s.dryRunMode = true; });
    startAndSettle();
    live(30 * 60);
    EXPECT_FALSE(isLink(a));
    EXPECT_EQ(posted("test-run").size(), 1u);
    ASSERT_TRUE(model->state().stall);
    EXPECT_EQ(model->state().stall->kind, Stall::testRun);
    EXPECT_EQ(model->state().lastRun, "Test run: would have moved 1 file (" + byteCountText(items[a].size) + ").");
    live(3'600);  // the stall holds scans back for an hour, then the test runs again
    EXPECT_EQ(posted("test-run").size(), 2u);
    expectIntact(a);
    EXPECT_TRUE(offloadedRecords(model->state()).empty());
}

TEST_F(ModelWorkTest, StallsAreNoticedOnceADayForEachKind) {
    make("a.mov", 3 * MB);
    driveFree = 500 * MB;  // less than the drive's reserve: nothing fits
    build();
    startAndSettle();
    live(86'399);
    ASSERT_EQ(posted("drive-full").size(), 1u);
    EXPECT_EQ(posted("drive-full").front(), "Archive is full");
    ASSERT_TRUE(model->state().stall);
    EXPECT_EQ(model->state().stall->kind, Stall::driveFull);

    // The folder emptied: the other kind is noticed at once.
    std::filesystem::remove_all(downloads);
    makeDirs(downloads);
    items.clear();
    live(3'600);
    EXPECT_EQ(posted("nothing-to-move").size(), 1u);
    live(86'400 - 3'600 - 1);
    EXPECT_EQ(posted("nothing-to-move").size(), 1u);
    live(3'600);
    EXPECT_EQ(posted("nothing-to-move").size(), 2u);
    EXPECT_EQ(posted("drive-full").size(), 1u);
}

// The journal keeps what a restart must not forget: a notice limited to once a day is not
// posted again by the next start, and the last run's line is still shown.
TEST_F(ModelWorkTest, TheDailyLimitAndTheLastRunOutliveARestart) {
    const std::string a = make("a.mov", 3 * MB);
    driveFree = 500 * MB;  // nothing fits
    build();
    startAndSettle();
    live(3'600);
    ASSERT_EQ(posted("drive-full").size(), 1u);
    model.reset();
    build();
    startAndSettle();
    live(3'600);
    EXPECT_EQ(posted("drive-full").size(), 1u);

    driveFree.reset();
    model.reset();
    build();
    startAndSettle();
    live(3'600);
    ASSERT_TRUE(isLink(a));
    const auto line = model->state().lastRun;
    const auto date = model->state().lastRunDate;
    ASSERT_TRUE(line && date);
    model.reset();
    build();
    startAndSettle();
    EXPECT_EQ(model->state().lastRun, line);
    EXPECT_EQ(model->state().lastRunDate, date);
}

// A failed move is noticed once and its item left alone for a day. What remembers it is the
// journal's record of the failure, stamped by the model's own clock: it holds across a
// restart and while the clock is set back, and the item is tried again (and the failure
// noticed again) once the clock has passed a day after it.
TEST_F(ModelWorkTest, AFailedMoveIsNoticedOnceADayAcrossARestartAndClockJumps) {
    const std::string failure = "Keldwick couldn't free up space";
    computerBase = 999'999'999;
    const std::string a = make("a.mov", 3 * MB);
    engines = [](const EngineSpec& spec) { return std::make_shared<FailingMoves>(spec); };
    const Date started = world.clock->now();
    build();
    startAndSettle();
    live(3'600);
    ASSERT_EQ(posted(failure).size(), 1u);
    EXPECT_FALSE(isLink(a));

    // Forgetting all the model knew, the journal still holds the failure at the model's time.
    model.reset();
    Date failedAt;
    {
        Journal journal(world.support + "/journal.sqlite");
        const auto abandoned = journal.records({Phase::abandoned});
        ASSERT_EQ(abandoned.size(), 1u);
        EXPECT_EQ(abandoned[0].originalPath, a);
        failedAt = abandoned[0].updatedAt;
        EXPECT_GE(failedAt, started);
        EXPECT_LE(failedAt, world.clock->now());
    }
    build();
    startAndSettle();
    live(3'600);
    EXPECT_EQ(posted(failure).size(), 1u);

    // Set back two days: the failure is not a day old yet.
    world.timers->jumpClock(-2 * 86'400.0);
    live(3 * 3'600);
    EXPECT_EQ(posted(failure).size(), 1u);

    // Then past a day after it: tried again, failed again, noticed again, once.
    world.timers->jumpClock(failedAt.adding(86'400 + 60).timeIntervalSince(world.clock->now()));
    live(2 * 3'600);
    EXPECT_EQ(posted(failure).size(), 2u);
    live(6 * 3'600);
    EXPECT_EQ(posted(failure).size(), 2u);
    EXPECT_FALSE(isLink(a));
    expectIntact(a);
}

TEST_F(ModelWorkTest, HandPickedMovesAndTheirRefusals) {
    const std::string a = make("a.mov", 3 * MB);
    const std::string b = make("b.mov", 2 * MB);
    build();
    startAndSettle();

    std::optional<std::optional<std::string>> result;
    auto move = [&](std::vector<std::string> paths) {
        result.reset();
        model->moveToDrive(paths, [&](std::optional<std::string> message) { result = message; });
        EXPECT_TRUE(waitFor([&] { return result.has_value(); }));
        return *result;
    };

    // The chooser names the drive in its title; cancelled, it moves nothing.
    model->chooseFilesToMove();
    ASSERT_EQ(world.picker->requests.size(), 1u);
    EXPECT_EQ(world.picker->requests[0].title, "Move to Archive");
    EXPECT_EQ(world.picker->requests[0].button, "Move");
    EXPECT_EQ(world.picker->requests[0].message,
              "Choose files or folders to move to Archive. Each stays in its folder as a shortcut.");

    // Nothing chosen: nothing to say.
    EXPECT_EQ(move({}), std::nullopt);
    // The home folder itself and a missing item stay, each with its reason.
    EXPECT_EQ(move({world.home}), "\u201Chome\u201D stays on your computer: your computer keeps this folder where it is; "
                                  "what's inside it can move.");
    EXPECT_EQ(model->state().filesProblem, *result);
    ASSERT_FALSE(world.notices->posted.empty());
    EXPECT_EQ(world.notices->posted.back().identifier, "move-chosen");
    EXPECT_EQ(world.notices->posted.back().title, "Couldn't move \u201Chome\u201D");
    EXPECT_EQ(move({downloads + "/gone", downloads + "/gone2"}),
              "\u201Cgone\u201D stays on your computer: it isn't there anymore. \u201Cgone2\u201D stays too.");
    EXPECT_EQ(world.notices->posted.back().title, "Couldn't move these files");

    // One moves; the problem reported is the refusal, without a notice of its own.
    const size_t notices = world.notices->posted.size();
    EXPECT_EQ(move({a, downloads + "/gone"}), "\u201Cgone\u201D stays on your computer: it isn't there anymore.");
    EXPECT_TRUE(isLink(a));
    EXPECT_EQ(posted("move-chosen").size(), 2u);
    EXPECT_EQ(world.notices->posted.size(), notices + 1);  // the run's "Freed up"

    // Already on the drive; then busy; then unplugged.
    EXPECT_EQ(move({a}), "\u201Ca.mov\u201D stays on your computer: it's already on Archive.");
    model->clearFilesProblem();
    EXPECT_FALSE(model->state().filesProblem);
    // The next move starts without the last refusal.
    EXPECT_EQ(move({a}), "\u201Ca.mov\u201D stays on your computer: it's already on Archive.");
    EXPECT_EQ(move({b}), std::nullopt);  // moved cleanly: nothing to report
    EXPECT_FALSE(model->state().filesProblem);
    world.locator->set(world.drive.id, std::nullopt);
    ASSERT_TRUE(refreshed(*model));
    EXPECT_EQ(move({downloads}), "Keldwick moves files to Archive, so it needs to be plugged in.");
    EXPECT_EQ(world.notices->posted.back().title, "Plug in Archive");
    for (const auto& [path, made] : items) expectIntact(path);
}

TEST_F(ModelWorkTest, TheFreeSpaceShownFollowsAMoveAsItGoes) {
    const std::string a = make("a.iso", 200 * MB);
    const std::string b = make("b.iso", 200 * MB);
    build();
    startAndSettle();
    const int64_t before = model->state().computerFreeBytes.value_or(0);
    bool done = false;
    model->moveToDrive({a, b}, [&](std::optional<std::string>) { done = true; });
    int64_t mostShownWhileMoving = before;
    ASSERT_TRUE(waitFor([&] {
        if (model->state().activity == Activity::moving) {
            mostShownWhileMoving = std::max(mostShownWhileMoving, model->state().computerFreeBytes.value_or(0));
            // A second of the model's time between turns: each report may read the space.
            world.clock->set(world.clock->now().adding(1));
        }
        return done;
    }));
    // The first item's space was shown free before the run ended.
    EXPECT_GE(mostShownWhileMoving, before + 200 * MB);
}

TEST_F(ModelWorkTest, RestoresCopiesKeepingAndDeleting) {
    const std::string a = make("a.mov", 3 * MB);
    const std::string b = make("b.mov", 2 * MB);
    const std::string c = make("c.mov", 2 * MB);
    const std::string d = make("d.mov", 1 * MB);
    const std::string e = make("e.mov", 1 * MB);
    build();
    startAndSettle();
    bool moved = false;
    model->moveToDrive({a, b, c, d, e}, [&](std::optional<std::string>) { moved = true; });
    ASSERT_TRUE(waitFor([&] { return moved; }));
    ASSERT_EQ(offloadedRecords(model->state()).size(), 5u);
    auto idOf = [&](const std::string& path) {
        for (const auto& record : model->state().records)
            if (record.originalPath == path) return record.id;
        ADD_FAILURE() << path;
        return int64_t{0};
    };
    auto wait = [&](const std::function<void(AppModel::Done)>& operation) {
        bool done = false;
        operation([&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }));
    };

    // Bringing one back (and one that isn't there) names both.
    wait([&](AppModel::Done done) { model->operations().restoreRecord({idOf(a), 999'999}, done); });
    EXPECT_FALSE(isLink(a));
    expectIntact(a);
    ASSERT_TRUE(model->state().lastRun);
    EXPECT_TRUE(model->state().lastRun->starts_with("Brought back \u201Ca.mov\u201D to Downloads. ")) << *model->state().lastRun;
    EXPECT_EQ(posted("Couldn't bring back everything").size(), 1u);
    ASSERT_TRUE(model->state().filesProblem);

    // An app saved a new file where b's link was: recovery finds it, and the drive copy
    // comes back beside it.
    const int64_t bID = idOf(b);
    const int64_t eID = idOf(e);
    for (const std::string& replaced : {b, e}) {
        ASSERT_EQ(::unlink(replaced.c_str()), 0);
        writeFile(replaced, "newer");
    }
    items.erase(e);
    wait([&](AppModel::Done done) { model->operations().recoverInterrupted(done); });
    wait([&](AppModel::Done done) { model->operations().restoreCopy(bID, done); });
    const std::string copy = downloads + "/b (from Archive).mov";
    items[copy] = items[b];
    items.erase(b);
    EXPECT_EQ(readFile(b), "newer");
    EXPECT_EQ(model->state().lastRun,
              "Brought back the copy of \u201Cb.mov\u201D from Archive, next to the one on your computer.");
    EXPECT_FALSE(model->state().filesProblem);

    // Kept on the computer: pinned, then back.
    const auto cRecord = *std::find_if(model->state().records.begin(), model->state().records.end(),
                                       [&](const OffloadRecord& r) { return r.originalPath == c; });
    wait([&](AppModel::Done done) { model->operations().keepOnComputer({cRecord}, done); });
    EXPECT_FALSE(isLink(c));
    expectIntact(c);
    EXPECT_NE(std::find(model->state().pins.begin(), model->state().pins.end(), c), model->state().pins.end());

    // A drive copy whose item is back: deleting a copy not in that state fails and says so.
    wait([&](AppModel::Done done) { model->operations().deleteDriveCopy({idOf(d)}, done); });
    EXPECT_EQ(posted("Couldn't delete everything").size(), 1u);
    EXPECT_TRUE(isLink(d));
    ASSERT_TRUE(model->state().filesProblem);

    // e's copy is no longer needed: deleting it says nothing and clears the problem.
    const auto eRecord = *std::find_if(model->state().records.begin(), model->state().records.end(),
                                       [&](const OffloadRecord& r) { return r.id == eID; });
    const auto lastRun = model->state().lastRun;
    wait([&](AppModel::Done done) { model->operations().deleteDriveCopy({eID}, done); });
    EXPECT_FALSE(FileStat::peek(eRecord.drivePath(world.driveRoot)));
    EXPECT_EQ(readFile(e), "newer");
    EXPECT_EQ(model->state().lastRun, lastRun);
    EXPECT_FALSE(model->state().filesProblem);

    // Everything back.
    wait([&](AppModel::Done done) { model->operations().restoreAll(done); });
    EXPECT_EQ(model->state().lastRun, "Brought back 1 item (" + byteCountText(items[d].size) +
                                          ") to your computer.");
    EXPECT_EQ(posted("Everything is back on your computer").size(), 1u);
    EXPECT_FALSE(model->state().filesProblem);
    EXPECT_TRUE(model->state().hasBroughtFilesBack);
    for (const auto& [path, made] : items) {
        EXPECT_FALSE(isLink(path)) << path;
        expectIntact(path);
    }
}

TEST_F(ModelWorkTest, CachesAreClearedWhenLowAtMostOnceADay) {
    // The cache folders are the temporary home's alone.
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("XDG_DATA_HOME");
    const std::string blob = world.home + "/.cache/some-tool/blob";
    writeFile(blob, std::string(200'000, 'x'));
    build([](AppSettings& s) { s.clearCachesWhenLow = true; });
    auto cleared = [&] {
        size_t count = 0;
        for (const auto& event : model->journal()->events(1000))
            if (event.message.starts_with("Cleared ") && event.message.ends_with(" of caches.")) ++count;
        return count;
    };
    startAndSettle();
    live(60);
    EXPECT_FALSE(FileStat::peek(blob));
    EXPECT_EQ(cleared(), 1u);
    ASSERT_TRUE(model->state().lastAutomaticCacheClear);

    // Refilled at once, but cleared again only once more than a day has passed.
    writeFile(blob, std::string(200'000, 'x'));
    live(86'400 - 60);
    EXPECT_TRUE(FileStat::peek(blob));
    EXPECT_EQ(cleared(), 1u);
    live(15 * 60);
    EXPECT_FALSE(FileStat::peek(blob));
    EXPECT_EQ(cleared(), 2u);
}

TEST_F(ModelWorkTest, RecoveryAdoptsOnlyInsideTheHomeAndSaysWhatStaysOnTheDrive) {
    // A drive that knows three items of this computer that the journal lacks: one in the
    // home with the link its move left, one in the home without it, one outside the home.
    const EngineConfiguration configuration;
    DriveManifest manifest{DriveLayout::appFolder(world.driveRoot)};
    const std::string inside = downloads + "/found.pdf";
    const std::string unlinked = downloads + "/planted.pdf";
    const std::string outside = world.dir / "elsewhere/found.pdf";
    for (const std::string& original : {inside, unlinked, outside}) {
        DriveManifest::Entry entry;
        entry.machine = configuration.machineID;
        entry.originalPath = original;
        entry.relativePath = DriveLayout::relativePath(original, configuration.machineFolder, DriveLayout::folderName());
        entry.size = 18;
        entry.checksum = std::string(64, 'a');
        entry.date = Date{1'700'000'000};
        const std::string copy = PathUtil::join(world.driveRoot, entry.relativePath);
        writeFile(copy, "quarterly numbers\n");
        if (original == inside) std::filesystem::create_symlink(copy, inside);
        manifest.append(entry);
    }
    build();
    startAndSettle();

    std::vector<std::string> known;
    for (const auto& record : model->state().records) known.push_back(record.originalPath);
    EXPECT_EQ(known, std::vector<std::string>{inside});
    ASSERT_EQ(posted("Some files were left on Archive").size(), 1u);
    const auto left = std::find_if(world.notices->posted.begin(), world.notices->posted.end(),
                                   [](const PostedNotice& n) { return n.title == "Some files were left on Archive"; });
    EXPECT_NE(left->body.find("\u201C" + outside + "\u201D"), std::string::npos) << left->body;
    EXPECT_NE(left->body.find("\u201C" + unlinked + "\u201D"), std::string::npos) << left->body;
    EXPECT_EQ(left->body.find(inside), std::string::npos) << left->body;
    EXPECT_EQ(left->target, NoticeTarget::offloaded);
}

}  // namespace
}  // namespace keldwick::test
