#pragma once
// Where this user's home and the program's support folder are, from the environment.

#include <string>

namespace keldwick::UserFolders {

// $HOME when it is an absolute path, else the password database's home folder; "" when
// neither gives one.
std::string home();

// The folder holding "settings.json", "journal.sqlite" and the lock: $XDG_DATA_HOME
// (when absolute) + "/Keldwick", else home() + "/.local/share/Keldwick"; "" without a home.
std::string support();

}  // namespace keldwick::UserFolders
