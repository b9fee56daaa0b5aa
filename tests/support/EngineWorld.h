#pragma once
// The tests' engine world: a home folder and a drive folder under one temporary folder, a
// journal, and the replaceable parts of an engine (a drive that can be unplugged or moved,
// processes holding files, icon places, fault points), for tests of moves, restores,
// whole runs and crash recovery. Items can be put on the drive "by hand" exactly as a
// finished move leaves them, or part way, so each road and each recovery is tested on its
// own.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <set>
#include <thread>

#include "foundation/Clock.h"
#include "drives/Drive.h"
#include "drives/DriveLayout.h"
#include "engine/EngineContext.h"
#include "engine/FileCopier.h"
#include "engine/ItemSteps.h"
#include "engine/OffloadEngine.h"
#include "engine/OffloadExecutor.h"
#include "engine/RecoveryManager.h"
#include "foundation/Checksum.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/ItemChecks.h"
#include "foundation/Journal.h"
#include "foundation/PathUtil.h"
#include "foundation/TreeManifest.h"
#include "scanning/Candidate.h"
#include "support/FakeDriveLocator.h"
#include "support/FakeOpenFiles.h"
#include "support/IconLog.h"
#include "support/TempDir.h"

namespace keldwick::test {

// Lets a test swap the injector an engine was built with.
class FaultSlot final : public FaultInjecting {
public:
    std::shared_ptr<FaultInjecting> inner = std::make_shared<NoFaults>();
    void reach(FaultPoint point, const FaultContext& context) override { inner->reach(point, context); }
};

class EngineWorld {
public:
    static constexpr const char* driveID = "0F0E0D0C-0B0A-0908-0706-050403020100";

    // Under `base` when given, else under the system's temporary folder.
    explicit EngineWorld(std::shared_ptr<Journal> journal = Journal::inMemory(Clock::system()), const std::string& base = "")
        : tmp(base), home(tmp / "home"), root(tmp / "drive"), journal(std::move(journal)) {
        makeDirs(home + "/Documents");
        makeDirs(root);
        configuration.machineID = "machine-1";
        configuration.machineFolder = "Test Machine";
        configuration.homeFolder = home;
        configuration.driveReserveBytes = 0;
        configuration.computerReserveBytes = 0;
        configuration.chunkSize = 4096;  // several chunks even for small items
    }

    TempDir tmp;
    std::string home;
    std::string root;
    Drive drive{driveID, "Travel"};
    std::shared_ptr<Journal> journal;
    std::shared_ptr<FakeDriveLocator> locator = std::make_shared<FakeDriveLocator>(drive.id, root);
    std::shared_ptr<FakeOpenFiles> openFiles = std::make_shared<FakeOpenFiles>();
    // What the engine is handed: the fake above unless a test puts the real checker here.
    std::shared_ptr<OpenFileChecking> openFileChecker = openFiles;
    std::shared_ptr<FaultSlot> faults = std::make_shared<FaultSlot>();
    std::shared_ptr<IconLog> icons = std::make_shared<IconLog>();
    RuleList rules;
    EngineConfiguration configuration;

    EngineContext context() const {
        return EngineContext::make(journal, locator, openFileChecker, faults, icons, configuration, rules);
    }
    OffloadExecutor executor() const { return OffloadExecutor(context(), drive); }
    RecoveryManager manager() const { return RecoveryManager(context()); }
    ItemSteps steps() const { return ItemSteps(context()); }

    // The engine's recovery: the five passes in order, the first three's results.
    std::vector<RecoveryResult> recover() const {
        RecoveryManager recovery = manager();
        auto results = recovery.recoverInFlight();
        auto adopted = recovery.adoptManifestEntries(drive.id);
        auto links = recovery.checkLinks();
        recovery.finishPendingDeletions();
        recovery.updateManifest(drive.id);
        results.insert(results.end(), adopted.begin(), adopted.end());
        results.insert(results.end(), links.begin(), links.end());
        return results;
    }

    std::string relativeFor(const std::string& path) const {
        return DriveLayout::relativePath(path, configuration.machineFolder, DriveLayout::folderName());
    }
    std::string drivePathFor(const std::string& path) const { return root + "/" + relativeFor(path); }
    std::string drivePath(const OffloadRecord& record) const { return record.drivePath(root); }
    std::string appFolder() const { return root + "/Keldwick"; }

    // A file of `size` bytes (a pattern that differs per name), or a folder "name" with
    // files, sub-folders and (as folders moved whole may have) a link, in Documents.
    std::string makeFile(const std::string& name, size_t size = 10'000) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + name.size()) % 26);
        return writeFile(home + "/Documents/" + name, bytes);
    }
    std::string makeFolder(const std::string& name, bool withLink = true) {
        std::string path = home + "/Documents/" + name;
        writeFile(path + "/one.txt", std::string(9'000, 'x'));
        writeFile(path + "/sub/two.txt", "second file");
        writeFile(path + "/sub/deeper/three.bin", std::string(5'000, '\x03'));
        if (withLink && ::symlink("one.txt", (path + "/link-to-one").c_str()) != 0) throw std::runtime_error("symlink");
        return path;
    }
    // A small file "Report.txt" or a folder "Album" (two files, a sub-folder and a link).
    std::string makeItem(bool folder, const std::string& name = "") {
        if (!folder) return writeFile(home + "/Documents/" + (name.empty() ? "Report.txt" : name), "quarterly numbers\n");
        std::string path = home + "/Documents/" + (name.empty() ? "Album" : name);
        writeFile(path + "/a.txt", "first photo");
        writeFile(path + "/sub/b.txt", "second photo");
        std::filesystem::create_symlink("a.txt", path + "/sub/link");
        return path;
    }

    // Leaves the item as a finished move would: its copy at its drive path, a link in its
    // place and an "offloaded" record with checksum and tree. The record's creation date
    // is a minute ago, so the copy's own dates are not "saved since the move".
    OffloadRecord offloadByHand(const std::string& path) { return offloadByHand(path, drive.id, root); }
    // The same onto another drive, mounted at `driveRoot`.
    OffloadRecord offloadByHand(const std::string& path, const std::string& driveID, const std::string& driveRoot) {
        FileCopier copier(configuration.chunkSize);
        const std::string drivePath = driveRoot + "/" + relativeFor(path);
        createDirectory(PathUtil::parent(drivePath));
        auto status = FileStat::read(path);
        NewRecord record{path, driveID, relativeFor(path), status->isDirectory(), 0, std::nullopt,
                         Phase::offloaded, std::nullopt, Clock::system()->now().adding(-60)};
        std::optional<std::vector<TreeEntry>> entries;
        if (status->isDirectory()) {
            entries = copier.copyTree(path, drivePath, {});
            record.checksum = TreeManifest{*entries}.digest();
            record.size = TreeManifest{*entries}.totalSize();
        } else {
            record.checksum = copier.copyFile(path, drivePath, true, {});
            record.size = status->size;
        }
        auto stored = journal->insert(record, entries);
        PathUtil::removeTree(path);
        if (::symlink(drivePath.c_str(), path.c_str()) != 0) throw std::runtime_error("symlink");
        return stored;
    }

    // --- A move played by hand up to any step, for recovery to settle.

    // A record for the item in `phase` (a move's first by default), with nothing done yet.
    OffloadRecord insert(const std::string& original, bool folder, Phase phase = Phase::offloadCopying) {
        NewRecord record;
        record.originalPath = original;
        record.driveID = drive.id;
        record.driveRelativePath = relativeFor(original);
        record.isDirectory = folder;
        record.size = 100;
        record.phase = phase;
        return journal->insert(record);
    }
    OffloadRecord reload(const OffloadRecord& record) const { return *journal->record(record.id); }

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
        steps().appendManifestEntry(record, DriveManifest::Entry::Event::offloaded, root);
        return record;
    }

    bool isOurLink(const std::string& path, const OffloadRecord& record) const {
        auto status = FileStat::peek(path);
        auto target = readLink(path);
        return status && status->isSymlink() && target && *target == drivePath(record);
    }

    // --- What the world holds.

    Phase phaseOf(int64_t id) const { return journal->record(id)->phase; }

    // The event messages, oldest first.
    std::vector<std::string> eventTexts() const {
        std::vector<std::string> texts;
        for (const auto& event : journal->events(10'000)) texts.insert(texts.begin(), event.message);
        return texts;
    }
    bool logged(const std::string& text) const {
        for (const auto& message : eventTexts())
            if (message == text) return true;
        return false;
    }

    // Every entry under the two folders, with a file's bytes or a link's target: what a
    // second recovery must leave exactly as it was.
    std::map<std::string, std::string> trees() const {
        std::map<std::string, std::string> result;
        for (const auto& top : {home, root}) {
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
};

// The content of an item: a file's bytes under "", or every entry of a folder by relative
// path ("/" + target for links, "<dir>" for folders); nothing when nothing is there.
inline std::optional<std::map<std::string, std::string>> contentOf(const std::string& path) {
    auto status = FileStat::peek(path);
    if (!status) return std::nullopt;
    std::map<std::string, std::string> content;
    if (status->isFile()) {
        content[""] = readFile(path);
        return content;
    }
    if (status->isSymlink()) {
        content[""] = "/" + readLink(path).value_or("");
        return content;
    }
    std::vector<std::string> relative;
    collectRelativePaths("", path, relative);
    for (const auto& entry : relative) {
        auto inner = FileStat::peek(path + "/" + entry);
        if (!inner) continue;
        if (inner->isDirectory()) content[entry] = "<dir>";
        else if (inner->isSymlink()) content[entry] = "/" + readLink(path + "/" + entry).value_or("");
        else content[entry] = readFile(path + "/" + entry);
    }
    content["."] = "<dir>";
    return content;
}

// The permission bits of the item at `path` (set-ID and sticky bits included), not
// following a final link; 0 when nothing is there.
inline mode_t modeOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

// Every name at or below `folder` that is one of the engine's working names.
inline std::vector<std::string> workingNamesUnder(const std::string& folder) {
    std::vector<std::string> found;
    std::vector<std::string> relative;
    collectRelativePaths("", folder, relative);
    for (const auto& entry : relative)
        if (isTemporaryName(PathUtil::name(entry))) found.push_back(entry);
    return found;
}

// The item as a scan would propose it: its whole size, one file, last used at `lastUsed`
// (nothing at `path`: an empty file).
inline Candidate candidateFor(const std::string& path, Date lastUsed = Clock::system()->now().adding(60),
                              std::optional<WholeKind> whole = std::nullopt) {
    auto status = FileStat::read(path);
    const bool folder = status && status->isDirectory();
    int64_t size = status && !folder ? status->size : 0;
    if (folder) {
        // As the scan counts it: the names of one file once.
        FileCopier::HardLinks links;
        std::set<int64_t> counted;
        for (const auto& entry : FileCopier().walk(path, FileCopier::SpecialFiles::refuse, links)) {
            auto group = links.groups.find(entry.path);
            if (group == links.groups.end() || counted.insert(group->second).second) size += entry.size;
        }
    }
    Candidate candidate(path, folder, size, 1, lastUsed, LastUsedSource::modificationDate);
    candidate.whole = whole;
    return candidate;
}

// Runs `work` while another thread keeps exchanging the items at `first` and `second`
// (renameat2 RENAME_EXCHANGE in a tight loop), then leaves both where they began. Gives
// how many exchanges went through.
inline int whileExchanging(const std::string& first, const std::string& second, const std::function<void()>& work) {
    std::atomic<bool> stop{false};
    std::atomic<int> exchanges{0};
    std::thread racer([&] {
        while (!stop)
            if (::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0) ++exchanges;
    });
    try {
        work();
    } catch (...) {
        stop = true;
        racer.join();
        throw;
    }
    stop = true;
    racer.join();
    if (exchanges % 2 == 1 && ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) != 0)
        throw std::runtime_error("renameat2");
    return exchanges;
}

// An engine over the world's parts, with no sleep inhibitor.
inline std::unique_ptr<OffloadEngine> engineOver(const EngineWorld& world) {
    auto made = std::make_unique<OffloadEngine>(world.journal, world.drive, world.locator, world.openFileChecker, world.rules,
                                                world.faults, world.icons, world.configuration);
    made->inhibitor = [](const std::string&) { return -1; };
    return made;
}

}  // namespace keldwick::test
