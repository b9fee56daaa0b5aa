#pragma once
// Starting the program at login, through the desktop's autostart folder: an entry
// keldwick.desktop in $XDG_CONFIG_HOME/autostart that runs this very program.

#include <optional>
#include <string>

#include "model/ModelPorts.h"

namespace keldwick {

// The autostart entry's path ($XDG_CONFIG_HOME, default ~/.config, then
// "autostart/keldwick.desktop").
std::string loginItemPath();

// The program a login should start when `executable` (a real path, as /proc/self/exe
// gives it) runs: an installation's <prefix>/bin/keldwick, which every update keeps
// naming the current version, when `executable` is <prefix>/lib/keldwick/<version>/keldwick
// and that link is there; else `executable` itself.
std::string loginItemProgram(const std::string& executable);

// Under the login switch, when `executable` runs from a build folder (a CMakeCache.txt
// beside its folder): the entry starts it from there. Nothing otherwise.
std::optional<std::string> loginItemNote(const std::string& executable);

// At start, run from an installation: an entry that is on and names another program than
// its <prefix>/bin/keldwick (a version's folder an update removes, a build folder) is
// written again for it. An entry that is off or missing, or a program run from elsewhere,
// leaves the entry alone; failures are logged, never thrown.
void renewLoginItem(const std::string& executable);

// On: writes the entry atomically, its Exec the running program's loginItemProgram (the
// folder is made when missing). Off: removes the entry; none there is success. A failure
// throws POSIXFailure, whose text is the system's error; a program path that isn't
// UTF-8 can't be written into the entry and throws std::runtime_error.
void setLoginItem(bool on);

// Whether the program starts at login now: the entry is there and neither hidden
// ("Hidden=true") nor switched off by the desktop ("X-GNOME-Autostart-enabled=false").
// An entry that can't be read counts as off.
bool loginItemIsOn();

// The entry's text for a program at `programPath`.
std::string loginItemEntry(const std::string& programPath);

// The model's login item: the autostart entry.
class AutostartLoginItem final : public LoginItem {
public:
    void set(bool on) override { setLoginItem(on); }
};

}  // namespace keldwick
