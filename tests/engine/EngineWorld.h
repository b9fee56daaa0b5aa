#pragma once
// A computer folder and a drive folder under one temporary folder, a journal, and the
// replaceable parts of an engine (a drive that can be unplugged, processes holding files,
// icon places, fault points), for tests of restores, whole runs and crash recovery.
// Items can be put on the drive "by hand" exactly as a finished move leaves them, so the
// restore road is tested on its own.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "engine/EngineContext.h"
#include "engine/OffloadEngine.h"
#include "engine/FileCopier.h"
#include "foundation/Checksum.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Journal.h"
#include "foundation/PathUtil.h"
#include "foundation/TreeManifest.h"
#include "scanning/Candidate.h"
#include "support/EngineFakes.h"
#include "support/TempDir.h"

namespace keldwick::test::engine {

// A drive plugged in at `root`, or unplugged.
class PluggableDrive final : public DriveLocating {
public:
    PluggableDrive(std::string driveID, std::string root) : root(std::move(root)), driveID_(std::move(driveID)) {}
    std::optional<std::string> mountPoint(const std::string& driveID) const override {
        if (!present || driveID != driveID_) return std::nullopt;
        return root;
    }
    std::string root;
    bool present = true;

private:
    std::string driveID_;
};

// Lets a test swap the injector an engine was built with.
class FaultSlot final : public FaultInjecting {
public:
    std::shared_ptr<FaultInjecting> inner = std::make_shared<NoFaults>();
    void reach(FaultPoint point, const FaultContext& context) override { inner->reach(point, context); }
};

class EngineWorld {
public:
    explicit EngineWorld(std::shared_ptr<Journal> journal = Journal::inMemory())
        : mac(tmp / "mac"), root(tmp / "drive"), journal(std::move(journal)) {
        makeDirs(mac + "/Documents");
        makeDirs(root);
        configuration.machineID = "machine-1";
        configuration.machineFolder = "Test Machine";
        configuration.homeFolder = mac;
        configuration.driveReserveBytes = 0;
        configuration.macReserveBytes = 0;
        configuration.chunkSize = 4096;  // several chunks even for small items
    }

    TempDir tmp;
    std::string mac;
    std::string root;
    Drive drive{"0F0E0D0C-0B0A-0908-0706-050403020100", "Travel"};
    std::shared_ptr<Journal> journal;
    std::shared_ptr<PluggableDrive> locator = std::make_shared<PluggableDrive>(drive.id, root);
    std::shared_ptr<HeldFiles> openFiles = std::make_shared<HeldFiles>();
    std::shared_ptr<FaultSlot> faults = std::make_shared<FaultSlot>();
    std::shared_ptr<IconLog> icons = std::make_shared<IconLog>();
    EngineConfiguration configuration;

    EngineContext context() const {
        return EngineContext::make(journal, locator, openFiles, faults, icons, configuration, {});
    }

    std::string relativeFor(const std::string& path) const { return "Keldwick/Test Machine" + path; }
    std::string drivePathFor(const std::string& path) const { return root + "/" + relativeFor(path); }
    std::string appFolder() const { return root + "/Keldwick"; }

    // A file of `size` bytes (a pattern that differs per name), or a folder "name" with
    // files, sub-folders and (as folders moved whole may have) a link, in Documents.
    std::string makeFile(const std::string& name, size_t size = 10'000) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + name.size()) % 26);
        return writeFile(mac + "/Documents/" + name, bytes);
    }
    std::string makeFolder(const std::string& name, bool withLink = true) {
        std::string path = mac + "/Documents/" + name;
        writeFile(path + "/one.txt", std::string(9'000, 'x'));
        writeFile(path + "/sub/two.txt", "second file");
        writeFile(path + "/sub/deeper/three.bin", std::string(5'000, '\x03'));
        if (withLink && ::symlink("one.txt", (path + "/link-to-one").c_str()) != 0) throw std::runtime_error("symlink");
        return path;
    }

    // Leaves the item as a finished move would: its copy at its drive path, a link in its
    // place and an "offloaded" record with checksum and tree. The record's creation date
    // is a minute ago, so the copy's own dates are not "saved since the move".
    OffloadRecord offloadByHand(const std::string& path) {
        FileCopier copier(configuration.chunkSize);
        const std::string drivePath = drivePathFor(path);
        createDirectory(PathUtil::parent(drivePath));
        auto status = FileStat::read(path);
        NewRecord record{path, drive.id, relativeFor(path), status->isDirectory(), 0, std::nullopt,
                         Phase::offloaded, std::nullopt, Date::now().adding(-60)};
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

// Every name at or below `folder` that is one of the engine's working names.
inline std::vector<std::string> workingNamesUnder(const std::string& folder) {
    std::vector<std::string> found;
    std::vector<std::string> relative;
    collectRelativePaths("", folder, relative);
    for (const auto& entry : relative)
        if (isTemporaryName(PathUtil::name(entry))) found.push_back(entry);
    return found;
}

// The item as a scan would propose it: its whole size, one file, last used at `lastUsed`.
inline Candidate candidateFor(const std::string& path, Date lastUsed = Date::now().adding(60)) {
    auto status = FileStat::read(path);
    const bool folder = status->isDirectory();
    int64_t size = folder ? 0 : status->size;
    if (folder)
        for (const auto& entry : FileCopier().walk(path)) size += entry.size;
    return Candidate(path, folder, size, 1, lastUsed, LastUsedSource::modificationDate);
}

// An engine over the world's parts, with no sleep inhibitor.
inline std::unique_ptr<OffloadEngine> engineOver(const EngineWorld& world) {
    auto made = std::make_unique<OffloadEngine>(world.journal, world.drive, world.locator, world.openFiles, RuleList{},
                                                world.faults, world.icons, world.configuration);
    made->inhibitor = [](const std::string&) { return -1; };
    return made;
}

}  // namespace keldwick::test::engine
