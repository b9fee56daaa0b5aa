#pragma once
// Where this user's home and the program's support folder are, from the environment.

#include <optional>
#include <string>

namespace keldwick::UserFolders {

// The environment variable's value when it is an absolute path; nothing when it is
// unset, empty or relative (such a value names no folder of this user's).
std::optional<std::string> absoluteVariable(const char* name);

// $HOME when it is an absolute path, else the password database's home folder; "" when
// neither gives one.
std::string home();

// The folder holding "settings.json", "journal.sqlite" and the lock: $XDG_DATA_HOME
// (when absolute) + "/Keldwick", else home() + "/.local/share/Keldwick"; "" without a home.
std::string support();

// The folder of the program's other settings file (the toolkit's, written under the
// organisation and program name): $XDG_CONFIG_HOME (when absolute) + "/Keldwick", else
// home() + "/.config/Keldwick"; "" without a home.
std::string config();

// The user's data folder for the given home: $XDG_DATA_HOME when absolute and neither
// the home nor above it (its entries are taken for apps' folders), else
// home + "/.local/share"; "" without either.
std::string dataHome(const std::string& home);

// The same two folders for the given home: the program's own folders, which never move.
std::string support(const std::string& home);
std::string config(const std::string& home);

}  // namespace keldwick::UserFolders
