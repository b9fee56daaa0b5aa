#pragma once
// What the program's model is built from: the home folder, the support folder, how the
// drive is found, and where the file manager's entry is.

#include <memory>
#include <optional>
#include <string>

#include "drives/DriveLocating.h"

namespace keldwick {

struct AppEnvironment {
    std::string home;
    std::string support;
    std::shared_ptr<DriveLocating> locator;
    // Where the file manager shows "Move to Keldwick Drive", when it is installed for
    // this program.
    std::optional<std::string> moveEntry;

    // The running user's: the home folder made canonical (as given when that fails), the
    // support folder under the XDG data folder and the volume-searching drive locator.
    static AppEnvironment live();
};

}  // namespace keldwick
