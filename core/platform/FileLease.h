#pragma once
// The kernel's own count of who holds a file open, read through a write lease: one may
// only be taken while no other open file refers to the file.

#include <optional>
#include <string>

namespace keldwick::platform::FileLease {

// Whether an open file other than the one this opens to ask refers to the regular file at
// `path`: a descriptor of any process (this one included), a mapping that outlived its
// descriptor, or a program running from it. Descriptors opened only for a path (O_PATH)
// hold no file open and don't count. Nothing when the kernel can't tell: no regular file
// there, a file this user may not lease (not its owner), leases turned off or not
// supported by the file system. Any lease taken is given back at once.
std::optional<bool> isHeldOpen(const std::string& path);

}  // namespace keldwick::platform::FileLease
