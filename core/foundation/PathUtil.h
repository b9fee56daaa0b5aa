#pragma once
// Path strings. Paths are bytes: nothing here decodes or normalises them, and equality
// and prefix tests compare bytes (on Linux, two spellings of a name are two files).

#include <optional>
#include <string>
#include <string_view>

namespace keldwick::PathUtil {

// parent + "/" + child, without doubling a slash the parent already ends with. An empty
// child gives the parent unchanged; the child is not inspected ("/a" + "/b" is "/a//b").
std::string join(std::string_view parent, std::string_view child);

// The last component, trailing slashes ignored: "/a/b/" gives "b", "/" gives "/".
std::string name(std::string_view path);

// The path without its last component: "/a/b" and "/a/b/" give "/a", "/a" gives "/",
// "/" stays "/", a bare name gives "".
std::string parent(std::string_view path);

// The path without its trailing slashes; a path of slashes keeps one ("/").
std::string withoutTrailingSlashes(std::string_view path);

// Whether a path read from a drive or from a record of one (never trusted) is clean:
// valid UTF-8 without NUL, its components neither empty, "." nor "..". An absolute one
// starts with "/" and isn't "/" itself; a relative one is non-empty and doesn't.
bool isCleanAbsolute(std::string_view path);
bool isCleanRelative(std::string_view path);

// True when path equals folder or starts with folder followed by "/". A pure string
// test: no links, ".." or repeated slashes are resolved; "/a/bc" is not inside "/a/b".
bool isInside(std::string_view path, std::string_view folder);

// The same test on the Unicode lower-cased forms of both.
bool isInsideIgnoringCase(std::string_view path, std::string_view folder);

// realpath(3): absolute, links, "." and ".." resolved; nothing when it fails.
std::optional<std::string> canonical(const std::string& path);

// Removes the item and, for a folder, everything in it. Nothing there is success. Never
// follows a symbolic link and never descends into another mounted file system. Clears
// the lock bits and ACLs that stand in the way and makes folders writable first.
// Throws POSIXFailure ("lstat", "opendir", "readdir", "rmdir", "unlink") at the first
// failure; what was removed until then stays removed.
void removeTree(const std::string& path);

// removeTree() that leaves sockets, FIFOs and device nodes where they are, and with them
// the folders that hold them: a program may be listening there. True when the item is
// gone whole, false when something was kept. Throws as removeTree().
bool removeTreeKeepingSpecialFiles(const std::string& path);

}  // namespace keldwick::PathUtil
