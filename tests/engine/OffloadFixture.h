#pragma once
// A home folder and a drive folder under one temporary folder, an in-memory journal and
// replaceable parts (a drive that can be unplugged, processes holding files, icon
// places, fault points), for tests that move items and recover them.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drives/Drive.h"
#include "drives/DriveLocating.h"
#include "engine/EngineContext.h"
#include "engine/OffloadExecutor.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/Journal.h"
#include "foundation/PathUtil.h"
#include "support/EngineFakes.h"
#include "support/TempDir.h"

namespace keldwick::test::offloading {

// A drive that is plugged in at `root`, or not at all.
class SwitchableLocator final : public DriveLocating {
public:
    SwitchableLocator(std::string driveID, std::optional<std::string> root)
        : driveID_(std::move(driveID)), root(std::move(root)) {}
    std::optional<std::string> mountPoint(const std::string& driveID) const override {
        return driveID == driveID_ ? root : std::nullopt;
    }

private:
    std::string driveID_;

public:
    std::optional<std::string> root;
};

class OffloadFixture : public ::testing::Test {
protected:
    TempDir tmp;
    std::string home = tmp / "home";
    std::string root = tmp / "drive";
    Drive drive{"0F0E0D0C-0B0A-0908-0706-050403020100", "Travel"};
    std::shared_ptr<Journal> journal = Journal::inMemory();
    std::shared_ptr<SwitchableLocator> locator = std::make_shared<SwitchableLocator>(drive.id, root);
    std::shared_ptr<HeldFiles> openFiles = std::make_shared<HeldFiles>();
    std::shared_ptr<OpenFileChecking> openFileChecker = openFiles;
    std::shared_ptr<FaultInjecting> faults = std::make_shared<NoFaults>();
    std::shared_ptr<IconLog> icons = std::make_shared<IconLog>();
    RuleList rules;
    EngineConfiguration configuration = [] {
        EngineConfiguration c;
        c.machineID = "machine-1";
        c.machineFolder = "Test Machine";
        c.driveReserveBytes = 0;
        c.chunkSize = 4096;  // several chunks for small files, so mid-copy points are reached
        return c;
    }();

    OffloadFixture() {
        configuration.homeFolder = home;
        makeDirs(home);
        makeDirs(root);
    }

    EngineContext context() const {
        return EngineContext::make(journal, locator, openFileChecker, faults, icons, configuration, rules);
    }
    OffloadExecutor executor() const { return OffloadExecutor(context(), drive); }

    // The item as a scan would have proposed it just now.
    Candidate candidateFor(const std::string& path, std::optional<WholeKind> whole = std::nullopt) const {
        auto status = FileStat::read(path);
        int64_t size = 0;
        bool folder = status && status->isDirectory();
        if (folder) {
            for (const auto& entry : FileCopier().walk(path)) size += entry.size;
        } else if (status) {
            size = status->size;
        }
        Candidate candidate(path, folder, size, 1, Date::now().adding(60), LastUsedSource::modificationDate);
        candidate.whole = whole;
        return candidate;
    }

    OffloadExecutor::Outcome move(const std::string& path) {
        return executor().offload(candidateFor(path), false, nullptr, nullptr);
    }

    std::string relativeFor(const std::string& path) const { return "Keldwick/Test Machine" + path; }
    std::string drivePathFor(const std::string& path) const { return root + "/" + relativeFor(path); }

    // The event messages, oldest first.
    std::vector<std::string> eventTexts() const {
        std::vector<std::string> texts;
        for (const auto& event : journal->events(1000)) texts.insert(texts.begin(), event.message);
        return texts;
    }
};

}  // namespace keldwick::test::offloading
