#pragma once
// Starting the program at login, through the desktop's autostart folder: an entry
// keldwick.desktop in $XDG_CONFIG_HOME/autostart that runs this very program.

#include <string>

#include "model/ModelPorts.h"

namespace keldwick {

// The autostart entry's path ($XDG_CONFIG_HOME, default ~/.config, then
// "autostart/keldwick.desktop").
std::string loginItemPath();

// On: writes the entry atomically, its Exec the running program's absolute path (the
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
