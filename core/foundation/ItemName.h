#pragma once
// The name under which messages, records and windows show an item.

#include <string>

namespace keldwick::ItemName {

// For a simulator device folder: the device's name + " simulator" (remembered for
// the life of the process once read), or "Xcode simulator" while its description
// can't be read. For any other path: its last component. Safe from any thread.
std::string display(const std::string& path);

}  // namespace keldwick::ItemName
