#pragma once
// The user's own names for the standard folders (Desktop, Documents, Music...), as the
// desktop keeps them in ~/.config/user-dirs.dirs; localised desktops rename them.

#include <string>
#include <vector>

namespace keldwick::XdgUserDirs {

// The folders the file names, in file order, "$HOME" replaced by `home`. Only folders
// strictly inside the home folder are given (a folder set to the home itself means
// "not used"). A missing or unreadable file gives none; bad lines are skipped.
std::vector<std::string> read(const std::string& home);

// The same from the file's text (for tests and callers that read it themselves).
std::vector<std::string> parse(const std::string& text, const std::string& home);

}  // namespace keldwick::XdgUserDirs
