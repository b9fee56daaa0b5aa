#include "engine/OffloadExecutor.h"
#include "engine/HeldPlaces.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cmath>
#include <functional>

#include <nlohmann/json.hpp>

#include "drives/DriveLayout.h"
#include "engine/OffloadFixture.h"
#include "foundation/Checksum.h"
#include "foundation/DriveManifest.h"
#include "foundation/EngineError.h"
#include "foundation/Utf8.h"
#include "foundation/VolumeSpace.h"
#include "platform/POSIXFailure.h"
#include "platform/Rename.h"
#include "scanning/PinnedRule.h"
#include "support/EngineWorld.h"
#include "support/FaultActions.h"
#include "support/PowerCutJournalFiles.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

namespace keldwick {

// Failures show the error's sentence.
void PrintTo(const EngineError& error, std::ostream* out) { *out << "EngineError(" << error.what() << ")"; }

namespace {

using test::FaultActions;
using test::makeDirs;
using test::readFile;
using test::writeFile;
using test::makeDirs;

class OffloadExecutorTest : public test::OffloadFixture {
protected:
    std::shared_ptr<FaultActions> actions = std::make_shared<FaultActions>();

    OffloadExecutorTest() { faults->inner = actions; }

    // The engine error a call throws; fails the test when it throws none.
    template <typename Call>
    EngineError engineErrorOf(Call&& call) {
        try {
            call();
        } catch (const EngineError& error) {
            return error;
        }
        ADD_FAILURE() << "no EngineError thrown";
        return EngineError::invalidState("none");
    }

    EngineError refusal(const Candidate& candidate, bool dryRun = false) {
        return engineErrorOf([&] { executor().offload(candidate, dryRun, nullptr, nullptr); });
    }

    // Records the journal phase at every point reached.
    void watchPhases() {
        auto seen = std::make_shared<std::vector<std::pair<FaultPoint, Phase>>>();
        for (auto point : FaultPoints::offloadPoints())
            actions->at(point, [this, point, seen](const FaultContext& c) {
                seen->emplace_back(point, journal->record(c.recordID)->phase);
            });
        seenPhases_ = seen;
    }
    std::vector<std::pair<FaultPoint, Phase>> phasesSeen() const { return *seenPhases_; }

    std::vector<std::string> names(const std::string& folder) const { return listDirectory(folder); }

private:
    std::shared_ptr<std::vector<std::pair<FaultPoint, Phase>>> seenPhases_;
};

// --- The whole road ---

TEST_F(OffloadExecutorTest, MovesAFileAndLeavesALinkToTheDriveCopy) {
    const std::string file = writeFile(home + "/Movies/clip.mov", std::string(10'000, 'x'));
    watchPhases();
    std::vector<int64_t> ticks;
    auto outcome = executor().offload(candidateFor(file), false, nullptr, [&](int64_t done) { ticks.push_back(done); });

    ASSERT_EQ(outcome.kind, OffloadExecutor::Outcome::Kind::moved);
    const OffloadRecord& record = outcome.record;
    EXPECT_EQ(record.phase, Phase::offloaded);
    EXPECT_EQ(record.originalPath, file);
    EXPECT_EQ(record.driveID, drive.id);
    EXPECT_EQ(record.driveRelativePath, relativeFor(file));
    EXPECT_FALSE(record.isDirectory);
    EXPECT_EQ(record.size, 10'000);
    EXPECT_EQ(record.checksum, Checksum::sha256(std::string(10'000, 'x')));

    EXPECT_EQ(readLink(file), drivePathFor(file));
    EXPECT_EQ(readFile(file), std::string(10'000, 'x'));  // through the link
    EXPECT_EQ(names(home + "/Movies"), std::vector<std::string>{"clip.mov"});
    EXPECT_EQ(names(PathUtil::parent(drivePathFor(file))), std::vector<std::string>{"clip.mov"});
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.back(), 10'000);

    using P = Phase;
    using F = FaultPoint;
    EXPECT_EQ(phasesSeen(), (std::vector<std::pair<F, P>>{{F::offloadRecorded, P::offloadCopying},
                                                          {F::offloadMidCopy, P::offloadCopying},
                                                          {F::offloadCopied, P::offloadCopying},
                                                          {F::offloadVerified, P::offloadVerified},
                                                          {F::offloadLinkStaged, P::offloadSwapping},
                                                          {F::offloadSwapped, P::offloadSwapping}}));
    EXPECT_EQ(eventTexts(), (std::vector<std::string>{"Moving \u201Cclip.mov\u201D to Travel\u2026",
                                                      "Moved \u201Cclip.mov\u201D (10.0 KB) to Travel."}));

    auto entries = DriveManifest{DriveLayout::appFolder(root)}.latestEntries("machine-1");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].event, DriveManifest::Entry::Event::offloaded);
    EXPECT_EQ(entries[0].machine, "machine-1");
    EXPECT_EQ(entries[0].originalPath, file);
    EXPECT_EQ(entries[0].relativePath, relativeFor(file));
    EXPECT_EQ(entries[0].checksum, record.checksum);
    EXPECT_FALSE(entries[0].entries.has_value());
}

// A move waits for the journal's medium once for each phase it records: its events ride
// along in those commits instead of each waiting on its own.
TEST(OffloadExecutorJournalTest, AMoveCommitsOnceForEachPhaseItRecords) {
    test::PowerCutJournalFiles files;  // counts the commits; the power stays on
    test::TempDir journalFolder;
    {
        test::EngineWorld world(Journal::open(journalFolder / "journal.sqlite"));
        const std::string path = test::writeFile(world.home + "/Documents/report.txt", "quarterly numbers");
        const int before = files.commits();
        auto outcome =
            world.executor().offload(test::candidateFor(path, Date::now().adding(60)), false, nullptr, nullptr);
        ASSERT_EQ(outcome.record.phase, Phase::offloaded);
        // The record ("copying"), "verified", "swapping", "offloaded".
        EXPECT_EQ(files.commits() - before, 4);
        EXPECT_EQ(files.commitsNotDurable(), 0);
        std::vector<std::string> messages;  // newest first
        for (const auto& event : world.journal->events(10))
            if (event.recordID == outcome.record.id) messages.push_back(event.message);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_TRUE(messages[0].starts_with("Moved ")) << messages[0];
        EXPECT_TRUE(messages[1].starts_with("Moving ")) << messages[1];
    }
}

TEST_F(OffloadExecutorTest, ManifestLineOfAMovedFile) {
    const std::string file = writeFile(home + "/a/b.txt", "bee");
    const Date before = Date::now();
    move(file);
    const std::string text = readFile(root + "/Keldwick/.keldwick-manifest.jsonl");
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n');
    const std::string line = text.substr(0, text.size() - 1);
    EXPECT_EQ(line.find('\n'), std::string::npos);  // one line
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '/') {
            EXPECT_TRUE(i > 0 && line[i - 1] == '\\') << "unescaped slash at " << i;
        }
    }

    auto json = nlohmann::json::parse(line);
    auto date = Date::parseISO8601(json.at("date").get<std::string>());
    ASSERT_TRUE(date.has_value());
    EXPECT_GE(date->secondsSince1970, std::floor(before.secondsSince1970));
    json.erase("date");
    EXPECT_EQ(json, (nlohmann::json{{"version", 1},
                                    {"mac", "machine-1"},
                                    {"event", "offloaded"},
                                    {"originalPath", file},
                                    {"relativePath", relativeFor(file)},
                                    {"isDirectory", false},
                                    {"size", 3},
                                    {"checksum", Checksum::sha256("bee")}}));
}

TEST_F(OffloadExecutorTest, MovesAFolderWithItsTreeThroughCleanup) {
    const std::string folder = home + "/Documents/Trip";
    writeFile(folder + "/a.txt", "alpha");
    writeFile(folder + "/sub/b.txt", std::string(9000, 'b'));
    makeDirs(folder + "/empty");
    watchPhases();
    auto outcome = move(folder);

    ASSERT_EQ(outcome.kind, OffloadExecutor::Outcome::Kind::moved);
    EXPECT_EQ(outcome.record.phase, Phase::offloaded);
    EXPECT_TRUE(outcome.record.isDirectory);
    auto stored = journal->treeEntries(outcome.record.id);
    EXPECT_EQ(outcome.record.checksum, TreeManifest{stored}.digest());
    EXPECT_EQ(stored.size(), 4u);

    EXPECT_EQ(readLink(folder), drivePathFor(folder));
    EXPECT_EQ(readFile(folder + "/sub/b.txt"), std::string(9000, 'b'));
    EXPECT_EQ(names(home + "/Documents"), std::vector<std::string>{"Trip"});
    EXPECT_EQ(names(drivePathFor(folder)), (std::vector<std::string>{"a.txt", "empty", "sub"}));

    auto seen = phasesSeen();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[4], std::make_pair(FaultPoint::offloadLinkStaged, Phase::offloadSwapping));
    EXPECT_EQ(seen[5], std::make_pair(FaultPoint::offloadSwapped, Phase::offloadCleanup));

    auto entries = DriveManifest{DriveLayout::appFolder(root)}.latestEntries("machine-1");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].entries, stored);
}

TEST_F(OffloadExecutorTest, WithoutExchangeTheLinkReplacesTheFileByRename) {
    platform::ScopedRenameSupport noExchange({.exclusive = true, .exchange = false});
    const std::string file = writeFile(home + "/old.iso", "disk image");
    move(file);
    EXPECT_EQ(readLink(file), drivePathFor(file));
    EXPECT_EQ(names(home), std::vector<std::string>{"old.iso"});
    auto contexts = actions->contexts();
    ASSERT_FALSE(contexts.empty());
    EXPECT_EQ(actions->reached().back(), FaultPoint::offloadSwapped);
    // The file was set aside at the staged name before the link took its place.
    EXPECT_EQ(contexts.back().workingCopyPath, temporaryPath(file, TemporaryKind::link, contexts.back().recordID));
}

TEST_F(OffloadExecutorTest, WorkingPathsOfEachFaultPoint) {
    const std::string file = writeFile(home + "/f.bin", std::string(5000, 'f'));
    const std::string folder = home + "/dir";
    writeFile(folder + "/x", "x");
    auto fileRecord = move(file).record;
    auto folderRecord = move(folder).record;
    const std::string partialFile = temporaryPath(drivePathFor(file), TemporaryKind::partial, fileRecord.id);
    const std::string partialFolder = temporaryPath(drivePathFor(folder), TemporaryKind::partial, folderRecord.id);
    std::vector<std::optional<std::string>> working;
    for (const auto& c : actions->contexts()) working.push_back(c.workingCopyPath);
    // The folder's single one-byte file gives one tick, so it too reaches the mid-copy point.
    EXPECT_EQ(working, (std::vector<std::optional<std::string>>{
                           std::nullopt, partialFile, partialFile, drivePathFor(file),
                           temporaryPath(file, TemporaryKind::link, fileRecord.id),
                           temporaryPath(file, TemporaryKind::link, fileRecord.id),
                           std::nullopt, partialFolder, partialFolder, drivePathFor(folder),
                           temporaryPath(folder, TemporaryKind::trash, folderRecord.id),
                           temporaryPath(folder, TemporaryKind::trash, folderRecord.id)}));
}

TEST_F(OffloadExecutorTest, IconPlaceReadBeforeTheSwapIsPutBackOnTheLink) {
    icons->current = IconPlace{120, 340};
    const std::string file = writeFile(home + "/Desktop/notes.pdf", "pdf");
    move(file);
    ASSERT_EQ(icons->restored.size(), 1u);
    EXPECT_EQ(icons->restored[0].first, (IconPlace{120, 340}));
    EXPECT_EQ(icons->restored[0].second, file);
}

TEST_F(OffloadExecutorTest, DryRunChecksEverythingAndChangesNothing) {
    const std::string file = writeFile(home + "/big.mkv", std::string(2500, 'm'));
    auto candidate = candidateFor(file);
    auto outcome = executor().offload(candidate, true, nullptr, nullptr);
    EXPECT_EQ(outcome.kind, OffloadExecutor::Outcome::Kind::wouldMove);
    EXPECT_EQ(outcome.candidate, candidate);
    EXPECT_TRUE(journal->allRecords().empty());
    EXPECT_TRUE(names(root).empty());
    EXPECT_EQ(FileStat::read(file)->kind, FileStat::Kind::file);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{"Dry run: would move \u201Cbig.mkv\u201D (2.50 KB) to Travel."});
    EXPECT_TRUE(actions->reached().empty());

    // The refusals apply to a dry run too.
    openFiles->uses = {{file, 4242, "Player"}};
    EXPECT_EQ(refusal(candidate, true).kind(), EngineError::Kind::inUse);
    EXPECT_EQ(eventTexts().size(), 1u);
}

// --- Refusals before anything is written ---

TEST_F(OffloadExecutorTest, RefusesWhatIsNotThereOrNotAPlainItem) {
    auto missing = candidateFor(home + "/gone.txt");
    EXPECT_EQ(refusal(missing), EngineError::sourceMissing(home + "/gone.txt"));

    const std::string target = writeFile(home + "/real.txt", "r");
    ASSERT_EQ(::symlink(target.c_str(), (home + "/alias.txt").c_str()), 0);
    auto link = candidateFor(target);
    link.path = home + "/alias.txt";
    EXPECT_EQ(refusal(link), EngineError::notEligible(home + "/alias.txt", "not a regular file or folder"));

    ASSERT_EQ(::mkfifo((home + "/pipe").c_str(), 0600), 0);
    EXPECT_EQ(refusal(candidateFor(home + "/pipe")),
              EngineError::notEligible(home + "/pipe", "not a regular file or folder"));

    const std::string badName = writeFile(home + "/caf\xE9.txt", "latin-1 name");
    EXPECT_EQ(refusal(candidateFor(badName)),
              EngineError::notEligible(badName, "Name has characters that can't be recorded"));
    EXPECT_TRUE(journal->allRecords().empty());
}

TEST_F(OffloadExecutorTest, RefusesByRuleMovabilityAndDatabaseCompanions) {
    const std::string pinned = writeFile(home + "/keep/me.txt", "k");
    rules.push_back(std::make_shared<PinnedRule>(std::vector<std::string>{home + "/keep"}, "Kept on this computer",
                                                 "Inside a kept folder", "Holds kept items"));
    EXPECT_EQ(refusal(candidateFor(pinned)).text(), "Inside a kept folder");

    const std::string linked = writeFile(home + "/twice.txt", "t");
    ASSERT_EQ(::link(linked.c_str(), (home + "/twice-2.txt").c_str()), 0);
    EXPECT_EQ(refusal(candidateFor(linked)), EngineError::notEligible(linked, "Has multiple hard links"));

    const std::string db = writeFile(home + "/app.db", "sqlite");
    writeFile(home + "/app.db-wal", "wal");
    EXPECT_EQ(refusal(candidateFor(db)),
              EngineError::notEligible(db, "Part of a database (with \u201Capp.db-wal\u201D)"));
    EXPECT_TRUE(journal->allRecords().empty());
}

TEST_F(OffloadExecutorTest, RefusesWhenTheDriveIsNotPluggedIn) {
    const std::string file = writeFile(home + "/a.txt", "a");
    locator->present = false;
    EXPECT_EQ(refusal(candidateFor(file)), EngineError::driveUnavailable());
    EXPECT_EQ(refusal(candidateFor(file)).message(), "Your drive isn't plugged in.");
}

TEST_F(OffloadExecutorTest, RefusesItemsOnTheDriveItselfOrHoldingIt) {
    // A folder used as the drive can hold the user's files, and other items' copies.
    const std::string besideCopies = writeFile(root + "/loose.txt", "on the drive already");
    const std::string copied = writeFile(home + "/moved.txt", "moved first");
    move(copied);
    makeDirs(home + "/links");
    ASSERT_EQ(::symlink(root.c_str(), (home + "/links/drive").c_str()), 0);
    writeFile(home + "/Outer/inner.txt", "i");
    const auto before = journal->allRecords();

    struct Case {
        std::string path;
        std::string driveRoot;
    };
    for (const auto& [path, driveRoot] : std::vector<Case>{
             {besideCopies, root},
             {drivePathFor(copied), root},
             {root, root},
             {home + "/links/drive/loose.txt", root},  // reached through a link
             {home + "/Outer", home + "/Outer/inner"},  // the drive lies inside the item
         }) {
        SCOPED_TRACE(path);
        makeDirs(driveRoot);
        locator->mounts[drive.id] = driveRoot;
        const auto error = refusal(candidateFor(path));
        EXPECT_EQ(error, EngineError::notEligible(path, "On the drive Keldwick moves items to"));
    }
    locator->mounts[drive.id] = root;
    EXPECT_EQ(journal->allRecords(), before);
    EXPECT_EQ(readFile(besideCopies), "on the drive already");
    EXPECT_EQ(readFile(copied), "moved first");
}

TEST_F(OffloadExecutorTest, RefusesFoldersHoldingLinksOrUsedSinceTheScan) {
    const std::string folder = home + "/Project";
    writeFile(folder + "/src/main.c", "int main;");
    ASSERT_EQ(::symlink("main.c", (folder + "/src/alias.c").c_str()), 0);
    EXPECT_EQ(refusal(candidateFor(folder)), EngineError::unsupportedItem(folder + "/src/alias.c"));

    ::unlink((folder + "/src/alias.c").c_str());
    auto stale = candidateFor(folder);
    stale.lastUsed = Date::now().adding(-3600);
    EXPECT_EQ(refusal(stale), EngineError::notEligible(folder, "Used since the last check"));

    const std::string locked = writeFile(folder + "/other.txt", "o");
    ASSERT_EQ(::chown(locked.c_str(), 65534, 65534), 0);
    EXPECT_EQ(refusal(candidateFor(folder)),
              EngineError::notEligible(folder, "\u201Cother.txt\u201D: Owned by another user"));
}

TEST_F(OffloadExecutorTest, UsedSinceTheLastCheckAllowsExactlyOneSecond) {
    const std::string file = writeFile(home + "/a.txt", "a");
    const Date modified = FileStat::read(file)->modificationDate();
    const Date changed = FileStat::read(file)->changeDate();
    const Date newest = std::max(modified, changed);
    auto candidate = candidateFor(file);
    candidate.lastUsed = newest.adding(-1.5);
    EXPECT_EQ(refusal(candidate), EngineError::notEligible(file, "Used since the last check"));
    candidate.lastUsed = newest.adding(-1);
    EXPECT_EQ(executor().offload(candidate, true, nullptr, nullptr).kind, OffloadExecutor::Outcome::Kind::wouldMove);
}

// A file dated ahead of the clock (the clock was set back after it was written) is no file
// used since its check: the refusal says what is wrong, for a file and inside a folder.
TEST_F(OffloadExecutorTest, AFileDatedInTheFutureIsRefusedForItsClock) {
    const std::string file = writeFile(home + "/ahead.txt", "a");
    const std::string folder = home + "/Ahead";
    const std::string inner = writeFile(folder + "/inner.txt", "i");
    const Date now = Date::now();
    for (const std::string& path : {file, inner}) {
        const double ahead = now.adding(3'600).secondsSince1970;
        const struct timespec times[2] = {{static_cast<time_t>(ahead), 0}, {static_cast<time_t>(ahead), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    for (const std::string& path : {file, folder}) {
        SCOPED_TRACE(path);
        auto candidate = candidateFor(path);
        candidate.lastUsed = now;  // picked by hand just now
        EXPECT_EQ(refusal(candidate),
                  EngineError::notEligible(path, "Its date is in the future: check this computer's clock"));
    }
}

TEST_F(OffloadExecutorTest, RefusesWithoutRoomAboveTheReserve) {
    // A drive of its own, so that nothing else changes its free space meanwhile.
    if (auto reason = test::mountSkipReason()) GTEST_SKIP() << *reason;
    test::TmpfsMount mount(root);
    if (!mount.mounted()) GTEST_SKIP() << "can't mount tmpfs";
    const std::string file = writeFile(home + "/a.bin", std::string(3000, 'a'));
    const int64_t available = *VolumeSpace::availableBytes(root);
    auto candidate = candidateFor(file);
    candidate.size = 1000;  // the size measured now counts when it is larger
    configuration.driveReserveBytes = available - 2999;
    EXPECT_EQ(refusal(candidate), EngineError::notEnoughSpaceOnDrive(3000, 2999));
    configuration.driveReserveBytes = available + 10;
    EXPECT_EQ(refusal(candidate), EngineError::notEnoughSpaceOnDrive(3000, 0));
    configuration.driveReserveBytes = available - 3000;
    EXPECT_EQ(executor().offload(candidate, true, nullptr, nullptr).kind, OffloadExecutor::Outcome::Kind::wouldMove);
}

// A child process that holds something (set up by `hold`, true on success) until killed.
class HoldingChild {
public:
    explicit HoldingChild(const std::function<bool()>& hold) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            char byte = hold() ? '1' : '0';
            (void)!::write(ready[1], &byte, 1);
            for (;;) ::pause();
        }
        char byte = 0;
        holding_ = pid_ > 0 && ::read(ready[0], &byte, 1) == 1 && byte == '1';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~HoldingChild() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

TEST_F(OffloadExecutorTest, RefusesWhatAnotherProcessHoldsOpenMapsOrWorksIn) {
    openFileChecker = std::make_shared<ProcessOpenFileChecker>();
    const std::string opened = writeFile(home + "/held.log", "busy");
    const std::string mapped = writeFile(home + "/mapped.db", std::string(4096, 'm'));
    const std::string folder = home + "/Workspace";
    writeFile(folder + "/notes.txt", "n");
    {
        HoldingChild child([&] { return ::open(opened.c_str(), O_RDONLY) >= 0; });
        ASSERT_TRUE(child.holding());
        auto error = refusal(candidateFor(opened));
        EXPECT_EQ(error.kind(), EngineError::Kind::inUse);
        EXPECT_EQ(error.path(), opened);
    }
    {
        // Mapped, with its descriptor closed: writes through the mapping would be lost.
        HoldingChild child([&] {
            int fd = ::open(mapped.c_str(), O_RDWR);
            void* map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            return map != MAP_FAILED;
        });
        ASSERT_TRUE(child.holding());
        EXPECT_EQ(refusal(candidateFor(mapped)).kind(), EngineError::Kind::inUse);
    }
    {
        HoldingChild child([&] { return ::chdir(folder.c_str()) == 0; });
        ASSERT_TRUE(child.holding());
        EXPECT_EQ(refusal(candidateFor(folder)).kind(), EngineError::Kind::inUse);
    }
    for (const std::string& opened : {folder, folder + "/sub"}) {
        // A descriptor on a folder: whatever the process creates through it would be lost.
        makeDirs(folder + "/sub");
        HoldingChild child([&] { return ::open(opened.c_str(), O_RDONLY | O_DIRECTORY) >= 0; });
        ASSERT_TRUE(child.holding());
        EXPECT_EQ(refusal(candidateFor(folder)).kind(), EngineError::Kind::inUse) << opened;
    }
    EXPECT_TRUE(journal->allRecords().empty());
    EXPECT_EQ(move(opened).record.phase, Phase::offloaded);  // once let go
}

// --- Folders that move as one piece ---

TEST_F(OffloadExecutorTest, WholeEmulatorDeviceMustBeIdleAndUnusedSinceTheScan) {
    const std::string device = home + "/avd/Pixel_7.avd";
    writeFile(device + "/userdata-qemu.img", "bytes");
    // Without its NAME.ini beside it, the folder is no device.
    EXPECT_EQ(refusal(candidateFor(device, WholeKind::emulator)),
              EngineError::notEligible(device, "Not an Android emulator device"));

    writeFile(home + "/avd/Pixel_7.ini", "path=" + device);
    writeFile(device + "/multiinstance.lock", "");
    EXPECT_EQ(refusal(candidateFor(device, WholeKind::emulator)), EngineError::notEligible(device, "Running"));

    ASSERT_EQ(::unlink((device + "/multiinstance.lock").c_str()), 0);
    // Booted after the scan dated it; a boot date ahead of the clock is the clock's fault.
    const time_t minuteAgo = static_cast<time_t>(Date::now().adding(-60).secondsSince1970);
    const struct timespec booted[2] = {{minuteAgo, 0}, {minuteAgo, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (device + "/userdata-qemu.img").c_str(), booted, 0), 0);
    auto scannedEarlier = candidateFor(device, WholeKind::emulator);
    scannedEarlier.lastUsed = Date::now().adding(-3'600);
    EXPECT_EQ(refusal(scannedEarlier), EngineError::notEligible(device, "Used since the last check"));
    const struct timespec ahead[2] = {{2'208'988'800, 0}, {2'208'988'800, 0}};  // 2040
    ASSERT_EQ(::utimensat(AT_FDCWD, (device + "/userdata-qemu.img").c_str(), ahead, 0), 0);
    EXPECT_EQ(refusal(candidateFor(device, WholeKind::emulator)),
              EngineError::notEligible(device, "Its date is in the future: check this computer's clock"));

    const struct timespec old[2] = {{1'577'836'800, 0}, {1'577'836'800, 0}};  // 2020
    ASSERT_EQ(::utimensat(AT_FDCWD, (device + "/userdata-qemu.img").c_str(), old, 0), 0);
    EXPECT_EQ(executor().offload(candidateFor(device, WholeKind::emulator), true, nullptr, nullptr).kind,
              OffloadExecutor::Outcome::Kind::wouldMove);
}

TEST_F(OffloadExecutorTest, WholeFolderKeepsItsInnerLinks) {
    const std::string folder = home + "/Code/tool";
    writeFile(folder + "/src/main.c", "int main;");
    ASSERT_EQ(::symlink("src/main.c", (folder + "/current.c").c_str()), 0);
    auto record = executor().offload(candidateFor(folder, WholeKind::chosen), false, nullptr, nullptr).record;
    EXPECT_EQ(record.phase, Phase::offloaded);
    EXPECT_EQ(readLink(drivePathFor(folder) + "/current.c"), "src/main.c");
    EXPECT_EQ(readFile(folder + "/current.c"), "int main;");
}

TEST_F(OffloadExecutorTest, ProjectsNeedADriveThatKeepsMetadata) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    const std::string mountPoint = tmp / "fat";
    makeDirs(mountPoint);
    test::LoopVolume volume(tmp / "fat.img", 16, "mkfs.exfat -L Travel", "mount.exfat-fuse", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << "can't mount: " << volume.error();
    locator->mounts[drive.id] = mountPoint;

    const std::string project = home + "/Code/app";
    writeFile(project + "/main.c", "int main;");
    EXPECT_EQ(refusal(candidateFor(project, WholeKind::project), true),
              EngineError::notEligible(project, "Only moves to a drive formatted for Linux"));
    EXPECT_EQ(executor().offload(candidateFor(project, WholeKind::chosen), true, nullptr, nullptr).kind,
              OffloadExecutor::Outcome::Kind::wouldMove);
}

// --- Other records on the drive ---

TEST_F(OffloadExecutorTest, RecordsOfThisDriveRefuseTheSamePlaceIgnoringCase) {
    const std::string file = writeFile(home + "/Report.pdf", "r");
    auto insert = [&](const std::string& original, const std::string& relative, Phase phase,
                      const std::string& driveID) {
        NewRecord r{original, driveID, relative, false, 1, std::nullopt, phase, std::nullopt, std::nullopt};
        return journal->insert(r);
    };
    // A fresh read of the journal for each check.
    auto check = [&](const std::string& original, const std::string& relative) {
        HeldPlaces(journal, drive.id).check(original, relative);
    };
    const std::string rel = relativeFor(file);

    insert(home + "/REPORT.pdf", "elsewhere", Phase::offloaded, "other-drive");
    EXPECT_NO_THROW(check(file, rel));

    auto same = insert(home + "/REPORT.pdf", "x/y", Phase::offloaded, drive.id);
    EXPECT_EQ(engineErrorOf([&] { check(file, rel); }), EngineError::alreadyManaged(file));
    journal->setPhase(same.id, Phase::returned);
    EXPECT_EQ(engineErrorOf([&] { check(file, rel); }), EngineError::olderCopyOnDrive(file, file));
    journal->setPhase(same.id, Phase::restored);
    EXPECT_NO_THROW(check(file, rel));

    // A record whose folder holds the new place, or that lies inside it; not a sibling
    // whose name merely begins alike.
    auto outer = insert(home + "/Old", "Keldwick/Test Machine" + home, Phase::linkMissing, drive.id);
    EXPECT_EQ(engineErrorOf([&] { check(file, rel); }),
              EngineError::olderCopyOnDrive(file, home + "/Old"));
    journal->setPhase(outer.id, Phase::abandoned);
    insert(home + "/Inner", rel + "/inner.txt", Phase::offloadCopying, drive.id);
    EXPECT_EQ(engineErrorOf([&] { check(file, rel); }), EngineError::alreadyManaged(file));
    EXPECT_NO_THROW(check(home + "/New", relativeFor(home + "/Report.pdf2")));

    HeldPlaces places(journal, drive.id);
    EXPECT_TRUE(places.isTaken(Utf8::lowercased(rel + "/inner.txt")));
    EXPECT_FALSE(places.isTaken(Utf8::lowercased(rel)));
    EXPECT_FALSE(places.isTaken("elsewhere"));
}

TEST_F(OffloadExecutorTest, ForeignItemAtTheDestinationGivesAFreeName) {
    const std::string file = writeFile(home + "/song.mp3", "our song");
    writeFile(drivePathFor(file), "someone else's song");
    auto record = move(file).record;
    EXPECT_EQ(record.driveRelativePath, relativeFor(home + "/song 2.mp3"));
    EXPECT_EQ(readFile(drivePathFor(file)), "someone else's song");
    EXPECT_EQ(readFile(file), "our song");
}

TEST_F(OffloadExecutorTest, OwnEarlierCopyAtTheDestinationIsClearedAndReused) {
    const std::string file = writeFile(home + "/song.mp3", "our song");
    writeFile(drivePathFor(file), "our song");
    auto record = move(file).record;
    EXPECT_EQ(record.driveRelativePath, relativeFor(file));
    EXPECT_EQ(eventTexts()[1], "Cleared what was left of an earlier copy of \u201Csong.mp3\u201D on Travel.");
    EXPECT_EQ(names(PathUtil::parent(drivePathFor(file))), std::vector<std::string>{"song.mp3"});
}

TEST_F(OffloadExecutorTest, RefusesADrivePathThatLeadsThroughALink) {
    const std::string file = writeFile(home + "/a.txt", "a");
    makeDirs(root + "/Keldwick");
    ASSERT_EQ(::symlink(home.c_str(), (root + "/Keldwick/Test Machine").c_str()), 0);
    try {
        move(file);
        FAIL() << "moved through a link on the drive";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::driveUntrusted);
        EXPECT_NE(std::string(error.what()).find("\u201cKeldwick/Test Machine\u201d"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(journal->allRecords().empty());
    EXPECT_EQ(readFile(file), "a");
}

// --- Changes and stops during the move ---

TEST_F(OffloadExecutorTest, AFileEditedAfterTheCopyStaysOnThisComputer) {
    const std::string file = writeFile(home + "/draft.txt", "first");
    actions->at(FaultPoint::offloadVerified, [&](const FaultContext&) { writeFile(file, "second version"); });
    EXPECT_EQ(engineErrorOf([&] { move(file); }), EngineError::sourceChanged(file));
    EXPECT_EQ(readFile(file), "second version");
    EXPECT_EQ(FileStat::read(file)->kind, FileStat::Kind::file);
    auto events = eventTexts();
    EXPECT_EQ(events[1], "Couldn't move \u201Cdraft.txt\u201D: \u201Cdraft.txt\u201D changed while it was being "
                         "copied, so it stayed on your computer.");
}

TEST_F(OffloadExecutorTest, ChangeDateOnlyCountsBeforeTheSwapNotAfter) {
    const std::string before = writeFile(home + "/before.txt", "b");
    actions->at(FaultPoint::offloadVerified, [&](const FaultContext& c) {
        if (c.originalPath == before) ::chmod(before.c_str(), 0600);
    });
    EXPECT_EQ(engineErrorOf([&] { move(before); }).kind(), EngineError::Kind::sourceChanged);

    const std::string after = writeFile(home + "/after.txt", "a");
    actions->at(FaultPoint::offloadLinkStaged, [&](const FaultContext& c) {
        if (c.originalPath == after) ::chmod(after.c_str(), 0600);
    });
    EXPECT_EQ(move(after).record.phase, Phase::offloaded);
}

TEST_F(OffloadExecutorTest, AFileWrittenJustBeforeTheSwapIsSwappedBack) {
    const std::string file = writeFile(home + "/live.txt", "old");
    actions->at(FaultPoint::offloadSwapped, [&](const FaultContext& c) {
        // The displaced file, at the staged name, gets new bytes through an open descriptor.
        int fd = ::open(c.workingCopyPath->c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "+new", 4), 4);
        ::close(fd);
    });
    EXPECT_EQ(engineErrorOf([&] { move(file); }), EngineError::sourceChanged(file));
    EXPECT_EQ(FileStat::read(file)->kind, FileStat::Kind::file);
    EXPECT_EQ(readFile(file), "old+new");
}

TEST_F(OffloadExecutorTest, AFolderChangedWhileSetAsideComesBack) {
    const std::string folder = home + "/Album";
    writeFile(folder + "/1.jpg", "one");
    actions->at(FaultPoint::offloadLinkStaged, [&](const FaultContext& c) {
        writeFile(*c.workingCopyPath + "/2.jpg", "two");
    });
    EXPECT_EQ(engineErrorOf([&] { move(folder); }), EngineError::sourceChanged(folder));
    EXPECT_EQ(FileStat::read(folder)->kind, FileStat::Kind::directory);
    EXPECT_EQ(readFile(folder + "/2.jpg"), "two");
}

// Rewrites the first bytes of an item's file, keeping its size and modification date, as
// a program that restores dates would; the descriptor is opened before the last look.
class RewriteKeepingDate {
public:
    RewriteKeepingDate(FaultActions& actions, const std::string& file) {
        actions.onceAt(FaultPoint::offloadVerified, [this, file](const FaultContext&) {
            fd_ = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_GE(fd_, 0);
            struct stat status {};
            ASSERT_EQ(::fstat(fd_, &status), 0);
            times_[0] = status.st_atim;
            times_[1] = status.st_mtim;
        });
        actions.onceAt(FaultPoint::offloadLinkStaged, [this](const FaultContext&) {
            ASSERT_EQ(::pwrite(fd_, "NEW!", 4, 0), 4);
            ASSERT_EQ(::futimens(fd_, times_), 0);
        });
    }
    ~RewriteKeepingDate() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_ = -1;
    struct timespec times_[2] {};
};

TEST_F(OffloadExecutorTest, ARewriteKeepingSizeAndDateBeforeTheSwapIsNeverDeleted) {
    for (bool exchange : {true, false}) {
        for (bool folder : {false, true}) {
            SCOPED_TRACE(std::string(exchange ? "exchange" : "no exchange") + (folder ? ", folder" : ", file"));
            platform::ScopedRenameSupport support({.exclusive = true, .exchange = exchange});
            faults->inner = actions = std::make_shared<FaultActions>();
            const std::string item = home + (folder ? "/Album" : "/note.txt") + (exchange ? "1" : "2");
            const std::string file = folder ? item + "/one.txt" : item;
            writeFile(file, "old bytes of the same length");
            auto rewrite = std::make_unique<RewriteKeepingDate>(*actions, file);
            if (!folder) {
                EXPECT_EQ(engineErrorOf([&] { move(item); }), EngineError::sourceChanged(item));
                EXPECT_TRUE(FileStat::read(item)->isFile());
                EXPECT_EQ(readFile(item), "NEW!bytes of the same length");
            } else {
                // The copy is in place; the version that changed is kept beside it.
                const auto record = move(item).record;
                EXPECT_EQ(record.phase, Phase::offloaded);
                EXPECT_EQ(readLink(item), drivePathFor(item));
                EXPECT_EQ(readFile(item + " (recovered by Keldwick)/one.txt"), "NEW!bytes of the same length");
                EXPECT_EQ(readFile(item + "/one.txt"), "old bytes of the same length");
            }
            EXPECT_TRUE(test::workingNamesUnder(home).empty());
        }
    }
}

TEST_F(OffloadExecutorTest, AFileWrittenIntoAFolderDuringItsCleanupIsKeptBeside) {
    const std::string folder = home + "/Album";
    writeFile(folder + "/1.jpg", "one");
    actions->at(FaultPoint::offloadSwapped, [&](const FaultContext& c) {
        writeFile(*c.workingCopyPath + "/2.jpg", "saved during the cleanup");
    });
    const auto record = move(folder).record;
    EXPECT_EQ(record.phase, Phase::offloaded);
    EXPECT_EQ(readLink(folder), drivePathFor(folder));
    EXPECT_EQ(readFile(folder + " (recovered by Keldwick)/2.jpg"), "saved during the cleanup");
    EXPECT_EQ(eventTexts().at(1),
              "\u201CAlbum\u201D changed while it was being moved. The copy on your drive is in its place, and the "
              "version from your computer is next to it as \u201CAlbum (recovered by Keldwick)\u201D.");
    EXPECT_TRUE(test::workingNamesUnder(home).empty());
}

TEST_F(OffloadExecutorTest, AParentRenamedDuringTheCleanupLeavesNoHiddenCopy) {
    for (bool exchange : {true, false}) {
        for (bool folder : {false, true}) {
            SCOPED_TRACE(std::string(exchange ? "exchange" : "no exchange") + (folder ? ", folder" : ", file"));
            platform::ScopedRenameSupport support({.exclusive = true, .exchange = exchange});
            faults->inner = actions = std::make_shared<FaultActions>();
            const std::string suffix = std::to_string(exchange) + std::to_string(folder);
            const std::string parent = home + "/Parent" + suffix;
            const std::string renamed = home + "/Renamed" + suffix;
            const std::string item = parent + (folder ? "/Album" : "/note.txt");
            writeFile(folder ? item + "/one.txt" : item, "content");
            actions->onceAt(FaultPoint::offloadSwapped,
                            [&](const FaultContext&) { ASSERT_EQ(::rename(parent.c_str(), renamed.c_str()), 0); });
            EXPECT_EQ(move(item).record.phase, Phase::offloaded);
            const std::string there = renamed + "/" + PathUtil::name(item);
            EXPECT_EQ(readLink(there), drivePathFor(item));
            EXPECT_EQ(names(renamed), std::vector<std::string>{PathUtil::name(item)});
        }
    }
}

TEST_F(OffloadExecutorTest, WithoutExchangeASaveByRenameJustBeforeTheSwapStays) {
    platform::ScopedRenameSupport noExchange({.exclusive = true, .exchange = false});
    const std::string file = writeFile(home + "/draft.txt", "first");
    actions->at(FaultPoint::offloadLinkStaged, [&](const FaultContext& c) {
        // An editor saves by writing a new file and renaming it over the old one.
        writeFile(home + "/.draft.txt.tmp", "saved meanwhile");
        ASSERT_EQ(::rename((home + "/.draft.txt.tmp").c_str(), c.originalPath.c_str()), 0);
    });
    EXPECT_EQ(engineErrorOf([&] { move(file); }), EngineError::sourceChanged(file));
    EXPECT_TRUE(FileStat::read(file)->isFile());
    EXPECT_EQ(readFile(file), "saved meanwhile");
    EXPECT_TRUE(test::workingNamesUnder(home).empty());
}

TEST_F(OffloadExecutorTest, TheOriginalStaysWhenItsCopyOrRecordChangedBeforeTheSwap) {
    using Disturb = std::function<void(const FaultContext&)>;
    const std::vector<std::pair<std::string, Disturb>> cases{
        {"copy deleted", [](const FaultContext& c) { PathUtil::removeTree(*c.workingCopyPath); }},
        {"copy rewritten", [](const FaultContext& c) { writeFile(*c.workingCopyPath, "other bytes, same size"); }},
        {"record rolled back", [this](const FaultContext& c) { journal->setPhase(c.recordID, Phase::abandoned); }},
    };
    for (const auto& [name, disturb] : cases) {
        SCOPED_TRACE(name);
        faults->inner = actions = std::make_shared<FaultActions>();
        const std::string file = writeFile(home + "/" + name + ".txt", "the only version here!");
        actions->at(FaultPoint::offloadVerified, disturb);
        EXPECT_EQ(engineErrorOf([&] { move(file); }), EngineError::driveCopyMissing(file));
        EXPECT_TRUE(FileStat::read(file)->isFile());
        EXPECT_EQ(readFile(file), "the only version here!");
    }
}

TEST_F(OffloadExecutorTest, ACorruptCopyNamesTheItemOnThisComputer) {
    const std::string file = writeFile(home + "/photo.raw", std::string(6000, 'p'));
    actions->at(FaultPoint::offloadCopied, [&](const FaultContext& c) {
        int fd = ::open(c.workingCopyPath->c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, "X", 1, 100), 1);
        ::close(fd);
    });
    EXPECT_EQ(engineErrorOf([&] { move(file); }), EngineError::checksumMismatch(file));
    EXPECT_EQ(readFile(file), std::string(6000, 'p'));
}

TEST_F(OffloadExecutorTest, CancellingStopsTheCopyOrTheSwap) {
    const std::string file = writeFile(home + "/long.bin", std::string(20'000, 'l'));
    auto flag = std::make_shared<CancellationFlag>();
    auto run = [&] {
        try {
            executor().offload(candidateFor(file), false, flag, [&](int64_t) { flag->cancel(); });
        } catch (const CancellationError&) {
            return true;
        }
        return false;
    };
    EXPECT_TRUE(run());
    EXPECT_EQ(actions->reached(), (std::vector<FaultPoint>{FaultPoint::offloadRecorded, FaultPoint::offloadMidCopy}));
    EXPECT_EQ(readFile(file), std::string(20'000, 'l'));

    // After verification: stops before the phase becomes "offload-swapping".
    const std::string other = writeFile(home + "/other.bin", "o");
    flag = std::make_shared<CancellationFlag>();
    auto phaseThen = std::make_shared<std::optional<Phase>>();
    actions->at(FaultPoint::offloadVerified, [&](const FaultContext& c) {
        flag->cancel();
        *phaseThen = journal->record(c.recordID)->phase;
    });
    EXPECT_THROW(executor().offload(candidateFor(other), false, flag, nullptr), CancellationError);
    EXPECT_EQ(*phaseThen, Phase::offloadVerified);
    EXPECT_EQ(FileStat::read(other)->kind, FileStat::Kind::file);
}

TEST_F(OffloadExecutorTest, ASimulatedCrashPassesWithoutAFailureEvent) {
    const std::string file = writeFile(home + "/c.txt", "c");
    faults->inner = std::make_shared<CrashAt>(FaultPoint::offloadCopied);
    EXPECT_THROW(move(file), SimulatedCrash);
    auto records = journal->allRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].phase, Phase::offloadCopying);
    EXPECT_EQ(eventTexts(), std::vector<std::string>{"Moving \u201Cc.txt\u201D to Travel\u2026"});
}

// --- A real second file system ---

TEST_F(OffloadExecutorTest, MovesOntoALoopMountedExt4Drive) {
    if (auto reason = test::mountSkipReason("mkfs.ext4")) GTEST_SKIP() << *reason;
    const std::string mountPoint = tmp / "ext4";
    makeDirs(mountPoint);
    test::LoopVolume volume(tmp / "ext4.img", 16, "mkfs.ext4 -q -F -L Travel", "mount", mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << "can't mount: " << volume.error();
    root = mountPoint;
    locator->mounts[drive.id] = mountPoint;

    const std::string file = writeFile(home + "/Music/set.flac", std::string(50'000, 's'));
    const std::string folder = home + "/Music/Live";
    writeFile(folder + "/one.flac", std::string(7000, '1'));
    auto fileRecord = move(file).record;
    auto folderRecord = move(folder).record;
    EXPECT_EQ(readLink(file), mountPoint + "/" + relativeFor(file));
    EXPECT_EQ(readFile(file), std::string(50'000, 's'));
    EXPECT_EQ(readFile(folder + "/one.flac"), std::string(7000, '1'));
    EXPECT_NE(FileStat::read(mountPoint + "/" + relativeFor(file))->device, FileStat::read(home)->device);
    EXPECT_EQ(fileRecord.phase, Phase::offloaded);
    EXPECT_EQ(folderRecord.phase, Phase::offloaded);
    EXPECT_EQ(DriveManifest{DriveLayout::appFolder(mountPoint)}.latestEntries("machine-1").size(), 2u);
}

}  // namespace
}  // namespace keldwick
