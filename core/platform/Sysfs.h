#pragma once
// Small readers for sysfs-style trees: attribute files and symbolic links. Every reader
// answers nothing instead of failing, because attributes come and go with devices.

#include <optional>
#include <string>

namespace keldwick::platform::Sysfs {

// The attribute's text without its trailing line break; nothing when it can't be read.
// Reads at most 64 KiB.
std::optional<std::string> attribute(const std::string& path);
// The attribute's raw bytes (binary attributes such as VPD pages).
std::optional<std::string> binaryAttribute(const std::string& path);
// The last component of a symbolic link's target ("usb" for subsystem -> ../../bus/usb).
std::optional<std::string> linkName(const std::string& path);
// The path with every link resolved; nothing when it doesn't exist.
std::optional<std::string> resolved(const std::string& path);
bool exists(const std::string& path);
// The parent folder of an absolute path ("/a/b" -> "/a", "/a" -> "/").
std::string parent(const std::string& path);
std::string lastComponent(const std::string& path);

}  // namespace keldwick::platform::Sysfs
