#pragma once
// The drive is untrusted input: its manifest names paths and its folders may hold links.
// Before the engine writes or deletes anything there, the path must lie strictly beneath
// the drive's root with no way out on the way.

#include <string>

namespace keldwick::DrivePath {

// Requires `path` to be root + "/" + a relative path whose components are neither
// empty, "." nor "..", and every folder on the way below the root that exists already
// to be a real folder (not a symbolic link) of the root's own file system. The last
// component is not examined: callers never follow it. Folders not made yet pass: the
// engine creates them itself. Throws POSIXFailure "resolve" with the path and EXDEV
// (not beneath the root, or another file system on the way), ELOOP (a link on the way)
// or ENOTDIR (a file on the way).
void requireBeneath(const std::string& root, const std::string& path);

// The same test as a Bool: false wherever requireBeneath would throw.
bool isBeneath(const std::string& root, const std::string& path);

}  // namespace keldwick::DrivePath
