#pragma once
// The engine's tunable constants, set by the program and copied into every operation.

#include <cstdint>
#include <string>

namespace keldwick {

struct EngineConfiguration {
    // Read/write chunk of every copy and hash.
    int64_t chunkSize = 4'194'304;
    // Space that must stay free on the drive and on this computer.
    int64_t driveReserveBytes = 1'073'741'824;
    int64_t computerReserveBytes = 1'073'741'824;
    // This computer's id and its folder's name on the drive.
    std::string machineID;
    std::string machineFolder;
    // The user's home folder. Items are adopted from a drive's manifest only for places
    // strictly inside it; left empty, none are.
    std::string homeFolder;

    // The defaults, with this computer's identity.
    EngineConfiguration();

    bool operator==(const EngineConfiguration&) const = default;
};

}  // namespace keldwick
