#pragma once
// The name under which messages, records and windows show an item.

#include <string>

namespace keldwick::ItemName {

// For an Android virtual device folder: the device's name + " emulator", the name being
// the one remembered for it when its device was last listed, else the folder's name
// with "_" as spaces. For any other path: its last component. Reads no file, so a
// window may call it; safe from any thread.
std::string display(const std::string& path);

// Remembers a device's name for display(), for the life of the process; called by the
// worker that read it.
void remember(const std::string& deviceFolder, const std::string& deviceName);

}  // namespace keldwick::ItemName
