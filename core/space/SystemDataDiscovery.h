#pragma once
// Discovery of large system data in the home folder that can move to the drive: app
// folders in Application Support, Android emulator
// devices and local AI models. It only lists and measures; the engine
// moves what the user picks. Stateless; never throws.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/OpenFileChecking.h"
#include "space/MovableData.h"

namespace keldwick::SystemData {

// Every source in discovery order, each folder kept when it measures at least
// `minimumSize` bytes; `openIn` names a process holding one of its files open.
// Largest first; equal sizes keep discovery order.
std::vector<MovableData> movable(const std::string& home, const OpenFileChecking& openFiles, int64_t minimumSize);

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
