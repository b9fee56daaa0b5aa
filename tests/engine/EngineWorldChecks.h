#pragma once
// What every interrupted move or restore must come to once recovery has run: every
// version the user had visible at least once, on the computer or on the drive, no working
// name left, no record in flight, and a state a further recovery leaves exactly as it is.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/EngineWorld.h"
#include "foundation/ItemChecks.h"

namespace keldwick::test {

using Content = std::map<std::string, std::string>;

// The items a user can see: in Documents, and anywhere on the drive under names that are
// not hidden.
inline std::vector<std::string> visibleItems(const EngineWorld& world) {
    std::vector<std::string> items;
    for (const auto& name : listDirectory(world.home + "/Documents"))
        if (name[0] != '.') items.push_back(world.home + "/Documents/" + name);
    std::vector<std::string> relative;
    collectRelativePaths("", world.root, relative);
    for (const auto& entry : relative)
        if (entry.find("/.") == std::string::npos && entry[0] != '.') items.push_back(world.root + "/" + entry);
    return items;
}

// `contentFn` reads an item as the versions in `precious` were read.
inline void expectSettled(const EngineWorld& world, const std::vector<Content>& precious,
                          std::optional<Content> (*contentFn)(const std::string&) = contentOf) {
    EXPECT_TRUE(workingNamesUnder(world.home).empty());
    EXPECT_TRUE(workingNamesUnder(world.root).empty());
    const auto items = visibleItems(world);
    for (const auto& version : precious) {
        bool found = false;
        for (const auto& item : items)
            if (contentFn(item) == version) found = true;
        EXPECT_TRUE(found) << "a version is lost: " << version.begin()->second.substr(0, 40);
    }
    for (const auto& record : world.journal->allRecords()) {
        EXPECT_FALSE(isInFlight(record.phase)) << toString(record.phase);
        const std::string drivePath = world.drivePathFor(record.originalPath);
        if (record.phase == Phase::offloaded) {
            EXPECT_TRUE(isLinkToDriveCopy(record.originalPath, record));
            EXPECT_TRUE(FileStat::peek(drivePath)) << "an offloaded record without its copy";
        }
        if (record.phase == Phase::returned || record.phase == Phase::linkMissing) {
            EXPECT_TRUE(FileStat::peek(drivePath)) << toString(record.phase) << " without its drive copy";
        }
        if (isFinished(record.phase)) {
            EXPECT_FALSE(FileStat::peek(drivePath)) << toString(record.phase) << " with a copy left on the drive";
        }
    }
}

// Every entry of both folders with its bytes, and every record's phase and error: what a
// further recovery must leave as it is.
inline std::map<std::string, std::string> stateOf(const EngineWorld& world) {
    std::map<std::string, std::string> all;
    for (const auto& top : {world.home, world.root}) {
        std::vector<std::string> relative;
        collectRelativePaths("", top, relative);
        for (const auto& entry : relative) {
            auto content = contentOf(top + "/" + entry);
            all[top + "/" + entry] = content && content->count("") ? content->at("") : "<dir>";
        }
    }
    for (const auto& record : world.journal->allRecords())
        all["record " + std::to_string(record.id)] =
            std::string(toString(record.phase)) + " " + record.error.value_or("");
    return all;
}

// Simulated crashes lose no page cache, and simulated power cuts keep their own account of
// it, so the disk under a matrix doesn't matter: tmpfs, where there is one, spares it
// hundreds of flushes.
class ScratchOnTmpfs {
public:
    ScratchOnTmpfs() {
        if (const char* now = std::getenv("TMPDIR")) previous_ = now;
        if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
    }
    ~ScratchOnTmpfs() {
        if (previous_) ::setenv("TMPDIR", previous_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    ScratchOnTmpfs(const ScratchOnTmpfs&) = delete;
    ScratchOnTmpfs& operator=(const ScratchOnTmpfs&) = delete;

private:
    std::optional<std::string> previous_;
};

}  // namespace keldwick::test
