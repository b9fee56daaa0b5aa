#pragma once
// Discovery of large system data in the home folder that can move to the drive: apps'
// folders in $XDG_DATA_HOME, Android emulator devices and local AI models. It only lists
// and measures; the engine moves what the user picks. Stateless; never throws. It reads
// the installed apps' desktop entries, so it belongs on a worker thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/OpenFileChecking.h"
#include "space/MovableData.h"

namespace keldwick::SystemData {

// Where discovery looks. Tests pass their own; the program passes of(home).
struct Places {
    std::string home;
    std::string dataHome;                         // $XDG_DATA_HOME, whose app folders are listed
    std::vector<std::string> applicationFolders;  // where the desktop entries that name them are

    // From the environment: UserFolders::dataHome and the XDG applications folders.
    static Places of(const std::string& home);
};

// Every source in discovery order, each folder kept when it measures at least
// `minimumSize` bytes; `openIn` names a process holding one of its files open.
// Largest first; equal sizes keep discovery order. An app's folder (SystemData::isAppFolder)
// is named by the desktop entry that keeps it, else by the folder's name.
std::vector<MovableData> movable(const Places& places, const OpenFileChecking& openFiles, int64_t minimumSize);

// The entry names of a folder, sorted; empty when the path is not a folder (by lstat)
// or can't be listed.
std::vector<std::string> listFolder(const std::string& folder);

// The allocated size of every regular file below the folder (links and folders add
// nothing; vanished or unreadable entries are skipped), saturating. `lastModified` is
// set to the latest modification date of those files, and left none when there is none.
int64_t measureFolder(const std::string& folder, std::optional<Date>& lastModified);

// The first usage at or below `path`.
std::optional<OpenFileUsage> firstUsage(const std::vector<OpenFileUsage>& usages, const std::string& path);

}  // namespace keldwick::SystemData
