#pragma once
// Model states for the model's tests: a ready one, and records in a given phase.

#include <string>

#include "model/ModelState.h"

namespace keldwick::test {

// Setup complete, the drive "Archive" chosen and mounted at /media/u/Archive, one
// managed folder, permission granted, 100 GB free of 500 GB (the keep-free level is 20 GB).
inline ModelState readyState() {
    ModelState state;
    state.home = "/home/u";
    state.settings.onboardingComplete = true;
    state.settings.drive = Drive{"6F1C2A5E-0000-4000-8000-000000000001", "Archive"};
    state.settings.managedFolders = {"/home/u/Downloads"};
    state.driveRoot = "/media/u/Archive";
    state.canReadHome = true;
    state.computerFreeBytes = 100'000'000'000;
    state.computerTotalBytes = 500'000'000'000;
    return state;
}

inline OffloadRecord record(const std::string& path, Phase phase, bool isDirectory = false, int64_t size = 1000,
                            const std::string& driveID = "6F1C2A5E-0000-4000-8000-000000000001") {
    OffloadRecord r;
    r.originalPath = path;
    r.phase = phase;
    r.isDirectory = isDirectory;
    r.size = size;
    r.driveID = driveID;
    return r;
}

}  // namespace keldwick::test
