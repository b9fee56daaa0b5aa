#pragma once
// A large folder of system data in the home folder that can move to the drive like
// any other item: an app's files, an Android emulator device or local AI models.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Date.h"

namespace keldwick {

struct MovableData {
    // The source an item came from, in the order discovery looks at them.
    enum class Kind { appFiles, emulator, models };

    std::string path;                    // absolute path of the folder
    std::string name;                    // name shown to the user
    Kind kind = Kind::appFiles;
    int64_t size = 0;                    // bytes the folder's files occupy on disk
    std::optional<Date> lastUsed;        // the most telling date of last use
    std::optional<std::string> openIn;   // a process holding one of its files open

    const std::string& id() const { return path; }
    bool operator==(const MovableData&) const = default;
};

}  // namespace keldwick
