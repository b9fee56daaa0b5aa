// An operation's trust in the drive holds for all of it: the Keldwick folder judged is the
// one written, what is kept there is private, and a drive refused after items moved still
// gives each of them back, as it was moved and nothing more.

#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "drives/DriveLayout.h"
#include "engine/DriveExposure.h"
#include "engine/LocatedDrive.h"
#include "engine/OffloadEngine.h"
#include "engine/RecoveryManager.h"
#include "engine/RestoreExecutor.h"
#include "foundation/DriveManifest.h"
#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/ItemChecks.h"
#include "platform/FileIO.h"
#include "platform/ProcFS.h"
#include "support/AsUser.h"
#include "support/EngineWorld.h"
#include "support/FaultActions.h"

namespace keldwick {
namespace {

using test::candidateFor;
using test::contentOf;
using test::engineOver;
using test::modeOf;
using test::EngineWorld;
using test::FaultActions;

// Every regular file below `folder`.
std::vector<std::string> filesUnder(const std::string& folder) {
    std::vector<std::string> files;
    if (!std::filesystem::exists(folder)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (std::filesystem::is_regular_file(entry.symlink_status())) files.push_back(entry.path());
    return files;
}

class HeldDriveFolderTest : public ::testing::Test {
protected:
    EngineWorld world;

    std::shared_ptr<FaultActions> actions() {
        auto injected = std::make_shared<FaultActions>();
        world.faults->inner = injected;
        return injected;
    }

    // Another user's doing: the Keldwick folder renamed aside and a folder of his own,
    // with the folders down to the user's Documents, put in its place.
    std::string swapTheFolder() {
        const std::string aside = world.appFolder() + ".aside";
        std::filesystem::rename(world.appFolder(), aside);
        std::filesystem::create_directories(world.appFolder() + "/" + world.configuration.machineFolder + world.home +
                                            "/Documents");
        test::chownTree(world.appFolder());
        return aside;
    }
};

TEST_F(HeldDriveFolderTest, AFolderSwappedMidCopyReceivesNothingAndTheOriginalStays) {
    for (bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "folder" : "file");
        EngineWorld fresh;
        world.journal = fresh.journal;
        const std::string path = folder ? world.makeFolder("Album", false) : world.makeFile("contract.pdf", 200'000);
        const auto original = contentOf(path);
        std::string aside;
        actions()->onceAt(FaultPoint::offloadMidCopy, [&](const FaultContext&) { aside = swapTheFolder(); });

        try {
            engineOver(world)->offload(candidateFor(path), false);
            ADD_FAILURE() << "moved into a replaced folder";
        } catch (const EngineError& error) {
            EXPECT_EQ(error.kind(), EngineError::Kind::driveUntrusted);
            EXPECT_NE(std::string(error.what()).find("was replaced while Keldwick was using it"), std::string::npos);
        }
        EXPECT_EQ(contentOf(path), original) << "the original never left";
        EXPECT_TRUE(filesUnder(world.appFolder()).empty()) << "nothing landed in the planted folder";
        // Put back as it was for the next round.
        PathUtil::removeTree(world.appFolder());
        PathUtil::removeTree(aside);
        PathUtil::removeTree(path);
    }
}

TEST_F(HeldDriveFolderTest, AFolderSwappedBetweenItemsStopsTheRun) {
    const std::string first = world.makeFile("first.bin", 20'000);
    const std::string second = world.makeFile("second.bin", 20'000);
    const auto secondContent = contentOf(second);
    std::string aside;
    actions()->onceAt(FaultPoint::offloadSwapped, [&](const FaultContext&) { aside = swapTheFolder(); });

    OffloadPlan plan;
    plan.items = {candidateFor(first), candidateFor(second)};
    const RunSummary summary = engineOver(world)->run(plan, false);

    EXPECT_EQ(summary.completed, std::vector<std::string>{first});
    EXPECT_NE(summary.stoppedBecause.value_or("").find("was replaced while Keldwick was using it"), std::string::npos);
    EXPECT_EQ(contentOf(second), secondContent);
    EXPECT_TRUE(filesUnder(world.appFolder()).empty()) << "nothing landed in the planted folder";
    // The first item's copy is in the user's own folder, wherever it was moved to.
    EXPECT_TRUE(FileStat::peek(aside + "/" + world.configuration.machineFolder + first));
}

TEST_F(HeldDriveFolderTest, ADriveWhoseTopFolderOthersCanChangeIsRefusedUnlessSticky) {
    const std::string path = world.makeFile("notes.txt");
    ASSERT_EQ(::chmod(world.root.c_str(), 0777), 0);
    try {
        engineOver(world)->offload(candidateFor(path), false);
        ADD_FAILURE() << "moved to a drive whose Keldwick folder anyone can replace";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.kind(), EngineError::Kind::driveUntrusted);
        EXPECT_NE(std::string(error.what()).find(world.root), std::string::npos) << error.what();
    }
    EXPECT_TRUE(FileStat::read(path)->isFile());

    ASSERT_EQ(::chmod(world.root.c_str(), 01777), 0);
    engineOver(world)->offload(candidateFor(path), false);
    EXPECT_TRUE(FileStat::read(path)->isSymlink());
}

TEST_F(HeldDriveFolderTest, WhatThisComputerKeepsOnTheDriveIsPrivate) {
    // An earlier version left the folder and the manifest open to everyone.
    const std::string machine = world.appFolder() + "/" + world.configuration.machineFolder;
    std::filesystem::create_directories(machine);
    ASSERT_EQ(::chmod(machine.c_str(), 0755), 0);
    test::writeFile(world.appFolder() + "/.keldwick-manifest.jsonl", "");
    ASSERT_EQ(::chmod((world.appFolder() + "/.keldwick-manifest.jsonl").c_str(), 0644), 0);
    const std::string path = world.makeFile("private.txt");
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);

    engineOver(world)->offload(candidateFor(path), false);

    EXPECT_EQ(modeOf(machine), 0700u);
    EXPECT_EQ(modeOf(world.appFolder() + "/.keldwick-manifest.jsonl"), 0600u);
    EXPECT_EQ(modeOf(world.drivePathFor(path)), 0600u) << "items keep their own modes";
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to try as another user";
    ASSERT_EQ(::chmod(world.tmp.path().c_str(), 0755), 0);
    const std::string manifest = world.appFolder() + "/.keldwick-manifest.jsonl";
    const int status = test::runAsNobody([&] {
        if (::open(manifest.c_str(), O_RDONLY) >= 0) return 1;
        if (::opendir(machine.c_str()) != nullptr) return 2;
        if (::open(world.drivePathFor(path).c_str(), O_RDONLY) >= 0) return 3;
        return 0;
    });
    EXPECT_EQ(status, 0) << "another user read what was kept private (step " << status << ")";
}

TEST_F(HeldDriveFolderTest, ANewDrivesFolderIsMadeReachableButNotListable) {
    PathUtil::removeTree(world.appFolder());
    engineOver(world)->offload(candidateFor(world.makeFile("a.txt")), false);
    EXPECT_EQ(modeOf(world.appFolder()), 0711u);
    EXPECT_EQ(modeOf(world.appFolder() + "/" + world.configuration.machineFolder), 0700u);
}

// Items moved while the drive was accepted; then the drive is refused.
class RefusedDriveRestoreTest : public HeldDriveFolderTest {
protected:
    enum class Refusal { byTheLocator, openToEveryone };

    void refuse(Refusal how) {
        if (how == Refusal::byTheLocator) {
            world.locator->refused[world.drive.id] = {
                DriveRefusal{world.root, DriveRefusal::Kind::anotherOwner, "Keldwick folder"}};
        } else {
            ASSERT_EQ(::chmod(world.appFolder().c_str(), 0777), 0);
        }
    }

    // The file moved through the engine, its drive copy then made set-user-ID and given an
    // attribute of someone else's, bytes untouched.
    std::string moveAndPlant(std::optional<std::map<std::string, std::string>>& content) {
        const std::string path = world.makeFile("sync-photos", 50'000);
        require(::chmod(path.c_str(), 0700));
        content = contentOf(path);
        engineOver(world)->offload(candidateFor(path), false);
        const std::string copy = world.drivePathFor(path);
        require(::chmod(copy.c_str(), 04777));
        ::setxattr(copy.c_str(), "user.planted", "x", 1, 0);
        return path;
    }

    static void require(int result) {
        if (result != 0) throw std::runtime_error("setup failed");
    }
};

TEST_F(RefusedDriveRestoreTest, EveryItemComesBackAsMovedAndNothingMore) {
    for (Refusal how : {Refusal::byTheLocator, Refusal::openToEveryone}) {
        SCOPED_TRACE(how == Refusal::byTheLocator ? "refused by the locator" : "open to everyone");
        EngineWorld fresh;
        std::swap(world.journal, fresh.journal);
        world.locator->refused.clear();
        ::chmod(world.appFolder().c_str(), 0711);
        std::optional<std::map<std::string, std::string>> fileContent;
        const std::string file = moveAndPlant(fileContent);
        const std::string folder = world.makeFolder("Taxes", false);
        const auto folderContent = contentOf(folder);
        engineOver(world)->offload(candidateFor(folder), false);
        refuse(how);

        const RunSummary summary = engineOver(world)->restoreAll();

        EXPECT_EQ(summary.completed.size(), 2u) << summary.stoppedBecause.value_or("");
        EXPECT_TRUE(summary.failures.empty());
        EXPECT_EQ(contentOf(file), fileContent);
        EXPECT_EQ(contentOf(folder), folderContent);
        EXPECT_EQ(modeOf(file), 0700u) << "the mode it was moved with, never the drive's";
        EXPECT_LT(::getxattr(file.c_str(), "user.planted", nullptr, 0), 0) << "no attribute from the drive";
        EXPECT_TRUE(world.logged("\u201Csync-photos\u201D came back from a volume Keldwick doesn't use for new moves: "
                                 "its content matched what was moved, and it took no permissions, owner or "
                                 "attributes from the drive."));
        for (const auto& record : world.journal->allRecords()) EXPECT_EQ(record.phase, Phase::restored);
        PathUtil::removeTree(file);
        PathUtil::removeTree(folder);
    }
}

TEST_F(RefusedDriveRestoreTest, AChangedCopyOnARefusedVolumeStaysThereAndIsNamed) {
    const std::string path = world.makeFile("ledger.csv", 30'000);
    engineOver(world)->offload(candidateFor(path), false);
    test::writeFile(world.drivePathFor(path), "someone else's version");
    refuse(Refusal::byTheLocator);

    const RunSummary summary = engineOver(world)->restoreAll();

    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_NE(summary.failures[0].message.find("\u201Cledger.csv\u201D changed on the drive since it was moved"),
              std::string::npos)
        << summary.failures[0].message;
    EXPECT_TRUE(FileStat::read(path)->isSymlink()) << "the link still opens it";
    EXPECT_EQ(test::readFile(world.drivePathFor(path)), "someone else's version");
    EXPECT_EQ(world.journal->allRecords().front().phase, Phase::offloaded);
}

// Removing the drive copy fails as a read-only volume or a folder of another account
// would make it fail.
class FailingDriveRenames final : public platform::FileSystemCalls {
public:
    explicit FailingDriveRenames(std::string marker, int error) : marker_(std::move(marker)), error_(error) {}
    int renameAt(int fromDirFd, const char* from, int toDirFd, const char* to, unsigned flags) override {
        // Renames on the drive go through its held folders, so the folder is read off the descriptor.
        const std::string where = fromDirFd == AT_FDCWD ? throughDescriptors(from) : folderOf(fromDirFd) + "/" + from;
        if (where.find(marker_) != std::string::npos) {
            errno = error_;
            return -1;
        }
        return FileSystemCalls::renameAt(fromDirFd, from, toDirFd, to, flags);
    }

private:
    static std::string throughDescriptors(const std::string& path) {
        const std::string prefix = "/proc/self/fd/";
        if (path.rfind(prefix, 0) != 0) return path;
        const size_t slash = path.find('/', prefix.size());
        return folderOf(std::stoi(path.substr(prefix.size(), slash - prefix.size()))) +
               (slash == std::string::npos ? "" : path.substr(slash));
    }
    static std::string folderOf(int fd) {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
    }

    std::string marker_;
    int error_;
};

TEST_F(RefusedDriveRestoreTest, ACopyThatCantBeRemovedStaysAndTheItemIsHome) {
    for (int error : {EACCES, EROFS}) {
        SCOPED_TRACE(error == EROFS ? "read-only" : "not the user's");
        EngineWorld fresh;
        std::swap(world.journal, fresh.journal);
        world.locator->refused.clear();
        const std::string path = world.makeFile("photo.jpg", 10'000);
        const auto content = contentOf(path);
        engineOver(world)->offload(candidateFor(path), false);
        refuse(Refusal::byTheLocator);
        const int64_t id = world.journal->allRecords().front().id;

        FailingDriveRenames calls(world.configuration.machineFolder, error);
        platform::ScopedFileSystemCalls installed(calls);
        const OffloadRecord after = RestoreExecutor(world.context()).restore(id, std::nullopt);

        EXPECT_EQ(contentOf(path), content);
        EXPECT_TRUE(FileStat::peek(world.drivePathFor(path))) << "the copy stays on the drive";
        if (error == EROFS) {
            EXPECT_EQ(after.phase, Phase::restoreCleanup) << "finished once the volume can be written";
        } else {
            EXPECT_EQ(after.phase, Phase::returned);
            EXPECT_NE(after.error.value_or("").find("Its copy stays on the drive"), std::string::npos);
        }
        PathUtil::removeTree(path);
        PathUtil::removeTree(world.drivePathFor(path));
    }
}

// Start-up recovery holds a refused volume as a restore does: it settles each record cut
// short without waiting for the drive to be taken again, and writes nothing there but the
// removal of a restored item's own copy and its manifest line.
TEST_F(RefusedDriveRestoreTest, RecoverySettlesWhatWasCutShortWithoutWritingThere) {
    const std::string manifest = world.appFolder() + "/.keldwick-manifest.jsonl";
    // A move cut short after its swap: the link stands, the original waits beside it.
    const std::string moving = world.makeFile("draft.odt", 20'000);
    const auto movingContent = contentOf(moving);
    const OffloadRecord move = world.copyAndVerify(world.insert(moving, false));
    const std::string setAside = temporaryPath(moving, TemporaryKind::link, move.id);
    std::filesystem::rename(moving, setAside);
    std::filesystem::create_symlink(world.drivePath(move), moving);
    world.journal->setPhase(move.id, Phase::offloadSwapping);
    // A restore cut short after its swap: the item is home, its copy still on the drive.
    const std::string restoring = world.makeFile("scan.pdf", 20'000);
    const auto restoringContent = contentOf(restoring);
    const OffloadRecord restore = world.offloadCompletely(restoring, false);
    PathUtil::removeTree(restoring);
    EngineWorld::copyItem(world.drivePath(restore), restoring);
    world.journal->setPhase(restore.id, Phase::restoreCleanup);
    // A link lost while a move swapped: recovery makes it again.
    const std::string linkless = world.makeFile("atlas.pdf", 5'000);
    const OffloadRecord relink = world.copyAndVerify(world.insert(linkless, false));
    PathUtil::removeTree(linkless);
    world.journal->setPhase(relink.id, Phase::offloadSwapping);
    refuse(Refusal::byTheLocator);
    const std::string manifestBefore = test::readFile(manifest);

    world.recover();

    EXPECT_EQ(world.phaseOf(move.id), Phase::abandoned) << "no move is finished onto a refused volume";
    EXPECT_EQ(contentOf(moving), movingContent);
    EXPECT_FALSE(FileStat::peek(setAside));
    EXPECT_TRUE(FileStat::peek(world.drivePath(move))) << "nothing of it removed there";

    EXPECT_EQ(world.phaseOf(restore.id), Phase::restored);
    EXPECT_EQ(contentOf(restoring), restoringContent);
    EXPECT_FALSE(FileStat::peek(world.drivePath(restore))) << "its own copy goes";
    const std::string added = test::readFile(manifest).substr(manifestBefore.size());
    EXPECT_NE(added.find("\"restored\""), std::string::npos) << added;
    EXPECT_EQ(added.find("\"offloaded\""), std::string::npos) << "no new line for anything else";

    EXPECT_EQ(world.phaseOf(relink.id), Phase::offloaded);
    EXPECT_EQ(readLink(linkless), world.drivePath(relink)) << "the link leads to where the drive is mounted";
}

TEST_F(RefusedDriveRestoreTest, RecoveryOnAReadOnlyRefusedVolumeKeepsTheCleanupForLater) {
    const std::string path = world.makeFile("scan.pdf", 20'000);
    const OffloadRecord record = world.offloadCompletely(path, false);
    PathUtil::removeTree(path);
    EngineWorld::copyItem(world.drivePath(record), path);
    world.journal->setPhase(record.id, Phase::restoreCleanup);
    refuse(Refusal::byTheLocator);

    {
        FailingDriveRenames calls(world.configuration.machineFolder, EROFS);
        platform::ScopedFileSystemCalls installed(calls);
        world.recover();
    }
    EXPECT_EQ(world.phaseOf(record.id), Phase::restoreCleanup);
    EXPECT_TRUE(FileStat::peek(world.drivePath(record)));

    // Writable again: the next start finishes it.
    world.recover();
    EXPECT_EQ(world.phaseOf(record.id), Phase::restored);
    EXPECT_FALSE(FileStat::peek(world.drivePath(record)));
}

// Recovery reaches the drive through the Keldwick folder it opened: one put in its place
// meanwhile gets nothing, and the record waits with the reason.
TEST_F(HeldDriveFolderTest, RecoveryStopsAtAFolderSwappedUnderIt) {
    const std::string path = world.makeFile("scan.pdf", 20'000);
    const OffloadRecord record = world.copyAndVerify(world.insert(path, false));
    const Phase before = world.phaseOf(record.id);
    RecoveryManager recovery = world.manager();
    // The folder is replaced once the pass has located the drive and opened it.
    std::string aside;
    int lookups = 0;
    world.locator->whenAsked = [&] {
        if (++lookups == 2) aside = swapTheFolder();
    };
    const auto results = recovery.recoverInFlight();
    world.locator->whenAsked = nullptr;

    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].action, RecoveryAction::deferred);
    EXPECT_NE(results[0].detail.value_or("").find("was replaced while Keldwick was using it"), std::string::npos)
        << results[0].detail.value_or("");
    EXPECT_EQ(world.phaseOf(record.id), before);
    EXPECT_TRUE(filesUnder(world.appFolder()).empty()) << "nothing removed or written in the planted folder";
    EXPECT_TRUE(FileStat::peek(aside + "/" + world.configuration.machineFolder + path));
}

// The swap as another user of this computer makes it, from a process of his own: between
// two items of one run the drive's top folder becomes open to him (an fstab mount's root
// loosened while the run goes on), and he renames the user's Keldwick folder aside and
// plants his own, with the folders down to her Documents.
TEST_F(HeldDriveFolderTest, AnotherUsersProcessSwappingTheFolderBetweenItemsGetsNothing) {
    if (!test::canDropPrivileges()) GTEST_SKIP() << "needs root to act as another user";
    ASSERT_EQ(::chmod(world.tmp.path().c_str(), 0755), 0);
    const std::string first = world.makeFile("first.bin", 20'000);
    const std::string second = world.makeFile("contract.pdf", 20'000);
    const auto firstContent = contentOf(first);
    const auto secondContent = contentOf(second);
    const std::string aside = world.appFolder() + ".his";
    const std::string planted =
        world.appFolder() + "/" + world.configuration.machineFolder + world.home + "/Documents";
    int swapped = -2;
    actions()->onceAt(FaultPoint::offloadSwapped, [&](const FaultContext&) {
        if (::chmod(world.root.c_str(), 0777) != 0) return;
        swapped = test::runAsNobody([&] {
            if (::rename(world.appFolder().c_str(), aside.c_str()) != 0) return 1;
            std::error_code error;
            std::filesystem::create_directories(planted, error);
            return error ? 2 : 0;
        });
    });

    OffloadPlan plan;
    plan.items = {candidateFor(first), candidateFor(second)};
    const RunSummary summary = engineOver(world)->run(plan, false);

    ASSERT_EQ(swapped, 0) << "the other user's process couldn't make the swap";
    EXPECT_EQ(summary.completed, std::vector<std::string>{first});
    EXPECT_NE(summary.stoppedBecause.value_or("").find("was replaced while Keldwick was using it"), std::string::npos)
        << summary.stoppedBecause.value_or("");
    EXPECT_EQ(contentOf(second), secondContent) << "the second item never left";
    EXPECT_TRUE(filesUnder(world.appFolder()).empty()) << "nothing landed in the planted folder";
    struct stat plantedStatus {};
    ASSERT_EQ(::stat(planted.c_str(), &plantedStatus), 0);
    EXPECT_EQ(plantedStatus.st_uid, test::kNobody) << "the planted folder is his";
    // The first item is whole in the user's own folder, wherever he put it.
    EXPECT_EQ(contentOf(aside + "/" + world.configuration.machineFolder + first), firstContent);
}

// The first folder of the user's mirrored home path on the drive ("<computer>/tmp").
std::string mirroredTop(const EngineWorld& world) {
    return world.appFolder() + "/" + world.configuration.machineFolder + world.home.substr(0, world.home.find('/', 1));
}

// A folder below the Keldwick folder that another account holds or everyone may write: no
// new move goes there (its owner could delete or swap the copy), and nothing is lost.
TEST_F(HeldDriveFolderTest, AFolderBelowTheKeldwickFolderThatIsntTheUsersRefusesMoves) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing folders to other owners needs root";
    struct Case {
        const char* name;
        bool computerFolder;  // else the mirrored home path's first folder
        uid_t owner;
        mode_t mode;
        const char* says;
    };
    const Case cases[] = {
        {"this computer's folder, another account's and open", true, test::kNobody, 0777, "belongs to another account"},
        {"a mirrored folder, another account's", false, test::kNobody, 0755, "belongs to another account"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineWorld fresh;
        const std::string path = fresh.makeFile("thesis.pdf", 30'000);
        const auto content = contentOf(path);
        const std::string folder =
            c.computerFolder ? fresh.appFolder() + "/" + fresh.configuration.machineFolder : mirroredTop(fresh);
        std::filesystem::create_directories(folder);
        ASSERT_EQ(::chown(folder.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        try {
            engineOver(fresh)->offload(candidateFor(path), false);
            ADD_FAILURE() << "moved into a folder another account controls";
        } catch (const EngineError& error) {
            EXPECT_EQ(error.kind(), EngineError::Kind::driveUntrusted);
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
        EXPECT_TRUE(contentOf(path) == content) << "the original never left";
        EXPECT_EQ(filesUnder(folder), std::vector<std::string>{}) << "nothing was written there";
        for (const auto& record : fresh.journal->allRecords()) EXPECT_EQ(record.phase, Phase::abandoned);
    }
}

// Once a folder on the way to a copy was open to others, a copy whose bytes changed is not
// the user's edit: it stays on the drive with its link, named, and the journal remembers the
// drive, so tidying the folder afterwards doesn't make later changes the user's.
TEST_F(HeldDriveFolderTest, ChangedBytesOnADriveOthersCouldWriteStayThere) {
    if (::geteuid() != 0) GTEST_SKIP() << "handing folders to other owners needs root";
    const std::string first = world.makeFile("thesis.pdf", 30'000);
    const std::string second = world.makeFile("notes.txt", 3'000);
    engineOver(world)->offload(candidateFor(first), false);
    engineOver(world)->offload(candidateFor(second), false);
    ASSERT_EQ(::chmod(mirroredTop(world).c_str(), 0777), 0);
    // Someone else's bytes, dated after the move as an edit through the link would be.
    test::writeFile(world.drivePathFor(first), "his 26 bytes, newer ones.");

    RunSummary summary = engineOver(world)->restoreAll();
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_NE(summary.failures[0].message.find("\u201Cthesis.pdf\u201D changed on the drive since it was moved"),
              std::string::npos)
        << summary.failures[0].message;
    EXPECT_TRUE(FileStat::read(first)->isSymlink()) << "the link still opens it";
    EXPECT_EQ(test::readFile(world.drivePathFor(first)), "his 26 bytes, newer ones.");
    EXPECT_TRUE(FileStat::read(second)->isFile()) << "unchanged items still come home";
    EXPECT_TRUE(DriveExposure::known(*world.journal, world.drive.id).has_value());

    // Tidied, later: the drive is still one others could have written meanwhile.
    ASSERT_EQ(::chmod(mirroredTop(world).c_str(), 0700), 0);
    summary = engineOver(world)->restoreAll();
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_TRUE(FileStat::read(first)->isSymlink());
}

// Another process keeps exchanging the first folder of the mirrored home path with a link
// to the real one while files move and come back: every step acts through the folders it
// opened, so nothing of the home outside the items is touched, and each item is either
// home whole or a working link to its verified copy.
TEST_F(HeldDriveFolderTest, ExchangingAFolderForALinkIntoTheHomeReachesNothingThere) {
    constexpr int kItems = 40;
    std::map<std::string, decltype(contentOf(""))> contents;
    OffloadPlan plan;
    for (int i = 0; i < kItems; ++i) {
        const std::string path = world.makeFile("file-" + std::to_string(i) + ".bin", 4'000 + i);
        contents[path] = contentOf(path);
        plan.items.push_back(candidateFor(path));
    }
    // The mirrored folders exist before the race starts, as after an earlier move.
    std::filesystem::create_directories(world.drivePathFor(world.home + "/Documents"));
    const std::string real = mirroredTop(world);
    const std::string link = real + ".his";
    const std::string target = world.home.substr(0, world.home.find('/', 1));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const int exchanges = test::whileExchanging(real, link, [&] {
        engineOver(world)->run(plan, false);
        engineOver(world)->restoreAll();
        engineOver(world)->run(plan, false);
    });
    EXPECT_GT(exchanges, 0);
    world.recover();

    std::set<std::string> inHome;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(world.home)) inHome.insert(entry.path());
    std::set<std::string> expected{world.home + "/Documents"};
    for (const auto& [path, content] : contents) {
        SCOPED_TRACE(path);
        expected.insert(path);
        const auto status = FileStat::read(path);
        ASSERT_TRUE(status);
        if (status->isSymlink()) {
            // A copy may have taken a free name beside one left by an earlier, failed try.
            const std::string copy = readLink(path).value_or("");
            EXPECT_EQ(PathUtil::parent(copy), PathUtil::parent(world.drivePathFor(path)));
            EXPECT_TRUE(contentOf(copy) == content) << "a working link to its verified copy";
        } else {
            EXPECT_TRUE(contentOf(path) == content) << "home whole";
        }
    }
    EXPECT_EQ(inHome, expected) << "nothing else in the home was written, and no working file is left";
}

// A pass reaches many items through the same folders on the drive: each is opened and
// judged once, what the judgement found stays with every place reached through it, and a
// folder the pass removed is looked for again rather than through the one it held.
TEST_F(HeldDriveFolderTest, FoldersReachedOnceKeepTheirJudgementAndFollowRemovals) {
    const std::string pictures = world.appFolder() + "/" + world.configuration.machineFolder + "/Pictures";
    const std::string folder = pictures + "/2024";
    std::filesystem::create_directories(folder);
    test::writeFile(folder + "/a.jpg", "a");
    test::writeFile(folder + "/b.jpg", "b");
    ASSERT_EQ(::chmod(pictures.c_str(), 0777), 0);  // others may write: what lies below is exposed
    const LocatedDrive drive =
        LocatedDrive::locate(world.locator.get(), world.drive.id, false, world.configuration.machineFolder);

    const LocatedDrive::Place first = drive.reach(folder + "/a.jpg", LocatedDrive::Reach::read);
    const LocatedDrive::Place second = drive.reach(folder + "/b.jpg", LocatedDrive::Reach::read);
    EXPECT_TRUE(first.exposed);
    EXPECT_TRUE(second.exposed) << "the folder judged before keeps what the judgement found";
    EXPECT_TRUE(FileStat::peek(second.path()));

    // The items and the folders they leave empty go; an app makes the same folders again.
    ASSERT_EQ(::unlinkat(first.folderFd(), "a.jpg", 0), 0);
    ASSERT_EQ(::unlinkat(second.folderFd(), "b.jpg", 0), 0);
    second.removeEmptyFolders();
    ASSERT_FALSE(std::filesystem::exists(pictures));
    std::filesystem::create_directories(folder);
    test::writeFile(folder + "/c.jpg", "c");

    const LocatedDrive::Place again = drive.reach(folder + "/c.jpg", LocatedDrive::Reach::read);
    EXPECT_TRUE(FileStat::peek(again.path())) << "reached in the folders there now, not the ones removed";
    EXPECT_FALSE(again.exposed) << "the new folders are judged as they are";
}

TEST(ProcessUmask, IsReadFromTheStatusText) {
    EXPECT_EQ(platform::ProcFS::parseUmask("Name:\tx\nUmask:\t0027\nState:\tR\n"), 027u);
    EXPECT_EQ(platform::ProcFS::parseUmask("Umask:\t0002"), 02u);
    EXPECT_EQ(platform::ProcFS::parseUmask("Name:\tx\n"), std::nullopt);
    EXPECT_EQ(platform::ProcFS::parseUmask("Umask:\t08\n"), std::nullopt);
    EXPECT_TRUE(platform::ProcFS().ownUmask().has_value());
}

}  // namespace
}  // namespace keldwick
