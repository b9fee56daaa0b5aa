#pragma once
// The user's own names for the standard folders (Desktop, Documents, Music...), as the
// desktop keeps them in user-dirs.dirs in the configuration folder; localised desktops
// rename them. The one reader of that file: everything that needs a standard folder asks
// here.

#include <optional>
#include <string>
#include <vector>

namespace keldwick::XdgUserDirs {

// The file: $XDG_CONFIG_HOME (when absolute) + "/user-dirs.dirs", else
// home + "/.config/user-dirs.dirs".
std::string filePath(const std::string& home);

// The file's text; empty when it is missing, unreadable, not a regular file or larger
// than 64 KiB.
std::string fileText(const std::string& home);

// The folders the file names, in file order, "$HOME" replaced by `home`. Only folders
// strictly inside the home folder are given (a folder set to the home itself means
// "not used"). A missing or unreadable file gives none; bad lines are skipped.
std::vector<std::string> read(const std::string& home);

// The same from the file's text (for tests and callers that read it themselves).
std::vector<std::string> parse(const std::string& text, const std::string& home);

// The folder of one key ("XDG_DOWNLOAD_DIR") in the text, by the same rules; the last
// good line of the key counts. None when no line gives one.
std::optional<std::string> folder(const std::string& text, const std::string& key, const std::string& home);

// The folder of `key` as the user's file names it, else home + "/" + `englishName`
// (never the home itself).
std::string folderOrDefault(const std::string& home, const std::string& key, const std::string& englishName);

// The desktop, downloads and documents folders (XDG_DESKTOP_DIR, XDG_DOWNLOAD_DIR,
// XDG_DOCUMENTS_DIR), each as folderOrDefault gives it.
std::string desktop(const std::string& home);
std::string downloads(const std::string& home);
std::string documents(const std::string& home);

}  // namespace keldwick::XdgUserDirs
