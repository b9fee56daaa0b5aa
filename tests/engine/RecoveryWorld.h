#pragma once
// A computer folder, a drive folder and an in-memory journal, with the steps of a move
// and a restore played by hand up to any interruption, so recovery can be run against
// each state the executors can leave behind.

#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drives/DriveLayout.h"
#include "engine/RecoveryManager.h"
#include "foundation/Checksum.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/PathUtil.h"
#include "support/TempDir.h"

namespace keldwick::test {

// A drive that can be plugged in and out, and moved to another mount path.
class SwitchableLocator final : public DriveLocating {
public:
    SwitchableLocator(std::string driveID, std::string root) : driveID(std::move(driveID)), root(std::move(root)) {}
    std::optional<std::string> mountPoint(const std::string& id) const override {
        if (!present || id != driveID) return std::nullopt;
        return root;
    }
    std::string driveID;
    std::string root;
    bool present = true;
};

class RecoveryWorld {
public:
    static constexpr const char* driveID = "DRIVE-1";

    RecoveryWorld()
        : mac(temp / "mac"), drive(temp / "drive"), journal(Journal::inMemory()),
          locator(std::make_shared<SwitchableLocator>(driveID, drive)) {
        makeDirs(mac + "/Documents");
        makeDirs(drive);
        configuration.machineID = "test-machine-id";
        configuration.machineFolder = "Test Machine";
        configuration.homeFolder = mac;
    }

    EngineContext context() const {
        EngineContext result;
        result.journal = journal;
        result.locator = locator;
        result.faults = std::make_shared<NoFaults>();
        result.icons = std::make_shared<NoIconPlacing>();
        result.configuration = configuration;
        result.copier = FileCopier(configuration.chunkSize);
        return result;
    }
    RecoveryManager manager() const { return RecoveryManager(context()); }

    // The engine's recovery: the five passes in order, the first three's results.
    std::vector<RecoveryResult> recover() const {
        RecoveryManager recovery = manager();
        auto results = recovery.recoverInFlight();
        auto adopted = recovery.adoptManifestEntries(driveID);
        auto links = recovery.checkLinks();
        recovery.finishPendingDeletions();
        recovery.updateManifest(driveID);
        results.insert(results.end(), adopted.begin(), adopted.end());
        results.insert(results.end(), links.begin(), links.end());
        return results;
    }

    // A file "Report.txt" or a folder "Album" (two files, a sub-folder and a link).
    std::string makeItem(bool folder, const std::string& name = "") {
        if (!folder) return writeFile(mac + "/Documents/" + (name.empty() ? "Report.txt" : name), "quarterly numbers\n");
        std::string path = mac + "/Documents/" + (name.empty() ? "Album" : name);
        writeFile(path + "/a.txt", "first photo");
        writeFile(path + "/sub/b.txt", "second photo");
        std::filesystem::create_symlink("a.txt", path + "/sub/link");
        return path;
    }

    std::string relativePathFor(const std::string& original) const {
        return DriveLayout::relativePath(original, configuration.machineFolder, DriveLayout::folderName());
    }

    OffloadRecord insert(const std::string& original, bool folder, Phase phase = Phase::offloadCopying) {
        NewRecord record;
        record.originalPath = original;
        record.driveID = driveID;
        record.driveRelativePath = relativePathFor(original);
        record.isDirectory = folder;
        record.size = 100;
        record.phase = phase;
        return journal->insert(record);
    }

    OffloadRecord reload(const OffloadRecord& record) const { return *journal->record(record.id); }
    std::string drivePath(const OffloadRecord& record) const { return record.drivePath(drive); }

    static void copyItem(const std::string& from, const std::string& to) {
        createDirectory(PathUtil::parent(to));
        std::filesystem::copy(from, to,
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    }

    // The checksum and tree the executor stores at verification (with the item's identity).
    std::pair<std::string, std::optional<std::vector<TreeEntry>>> digest(const std::string& path, bool folder) const {
        if (!folder) return {Checksum::sha256OfFile(path, 4'194'304), std::nullopt};
        auto entries = FileCopier(configuration.chunkSize).hashedEntries(path, {});
        return {TreeManifest{entries}.digest(), entries};
    }

    // A verified copy at the drive path, as after the copy, verify and rename steps.
    OffloadRecord copyAndVerify(const OffloadRecord& record) {
        auto [checksum, entries] = digest(record.originalPath, record.isDirectory);
        copyItem(record.originalPath, drivePath(record));
        journal->markVerified(record.id, checksum, entries, itemIdentity(*FileStat::peek(record.originalPath)));
        return reload(record);
    }

    // A finished move: verified copy, link in place, original gone, manifest entry written.
    OffloadRecord offloadCompletely(const std::string& original, bool folder) {
        OffloadRecord record = copyAndVerify(insert(original, folder));
        PathUtil::removeTree(original);
        std::filesystem::create_symlink(drivePath(record), original);
        journal->setPhase(record.id, Phase::offloaded);
        record = reload(record);
        manager().appendManifestEntry(record, DriveManifest::Entry::Event::offloaded, drive);
        return record;
    }

    bool isOurLink(const std::string& path, const OffloadRecord& record) const {
        auto status = FileStat::peek(path);
        auto target = readLink(path);
        return status && status->isSymlink() && target && *target == drivePath(record);
    }

    // Every entry under the two folders, with a file's bytes or a link's target: what a
    // second recovery must leave exactly as it was.
    std::map<std::string, std::string> trees() const {
        std::map<std::string, std::string> result;
        for (const auto& top : {mac, drive}) {
            std::vector<std::string> relative;
            collectRelativePaths("", top, relative);
            for (const auto& rel : relative) {
                std::string path = PathUtil::join(top, rel);
                auto status = FileStat::peek(path);
                if (!status) continue;
                if (status->isFile()) result[path] = readFile(path);
                else if (status->isSymlink()) result[path] = "-> " + readLink(path).value_or("");
                else result[path] = "<dir>";
            }
        }
        return result;
    }

    // Paths under either folder whose name is one of the program's working names.
    std::vector<std::string> workingNames() const {
        std::vector<std::string> found;
        for (const auto& [path, _] : trees())
            if (isTemporaryName(PathUtil::name(path))) found.push_back(path);
        return found;
    }

    // The contents of every visible file (no working name on the way), links not followed.
    std::multiset<std::string> visibleContents() const {
        std::multiset<std::string> contents;
        for (const auto& [path, value] : trees()) {
            bool hidden = false;
            for (std::string p = path; p.size() > 1; p = PathUtil::parent(p))
                hidden = hidden || isTemporaryName(PathUtil::name(p));
            if (!hidden && value != "<dir>" && !value.starts_with("-> ")) contents.insert(value);
        }
        return contents;
    }

    TempDir temp;
    std::string mac;
    std::string drive;
    std::shared_ptr<Journal> journal;
    std::shared_ptr<SwitchableLocator> locator;
    EngineConfiguration configuration;
};

}  // namespace keldwick::test
