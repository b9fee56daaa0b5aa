#pragma once
// Reads the process table from procfs. Every read goes through `root` ("/proc" on a live
// system), so tests can point it at a fixture tree built of plain files and links.
//
// Nothing here throws: a process that exits mid-read, or that this user may not inspect,
// simply yields nothing.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::platform {

class ProcFS {
public:
    explicit ProcFS(std::string root = "/proc");

    // Narrows a listing to the paths a caller cares about before any file is examined,
    // which keeps a pass over every process's map cheap.
    using PathFilter = std::function<bool(std::string_view path)>;

    const std::string& root() const { return root_; }

    // The numeric entries of the root, ascending.
    std::vector<int32_t> processIDs() const;

    // Paths of the regular files the process holds open, in descriptor order (a file open
    // on two descriptors appears twice), and with `withFolders` the folders it holds open
    // among them. Sockets, pipes, anonymous inodes and files already deleted are left out.
    std::vector<std::string> openRegularFiles(int32_t pid, const PathFilter& wanted = nullptr,
                                              bool withFolders = false) const;

    // Paths of the regular files the process has mapped into memory, each once, in the
    // order of the map. A mapping is kept only when the path still names the mapped inode.
    std::vector<std::string> mappedRegularFiles(int32_t pid, const PathFilter& wanted = nullptr) const;

    // The working directory; nothing when unreadable or when the folder was deleted.
    std::optional<std::string> workingDirectory(int32_t pid) const;

    // The executable's path as the kernel reports it (possibly ending in " (deleted)").
    std::optional<std::string> executablePath(int32_t pid) const;

    // The executable when it is a regular file that still exists.
    std::optional<std::string> executableFile(int32_t pid) const;

    // The short command name ("comm"), without its line feed.
    std::optional<std::string> shortName(int32_t pid) const;

    // The arguments the process was started with ("cmdline"), argv[0] first; empty when
    // unreadable (a kernel thread has none).
    std::vector<std::string> commandLine(int32_t pid) const;

    // The parent process id from the "stat" line.
    std::optional<int32_t> parentID(int32_t pid) const;

    // Field 4 of a /proc/PID/stat line. The command name (field 2) may hold spaces and
    // parentheses, so the fields are counted after the last ")".
    static std::optional<int32_t> parseParentID(std::string_view statLine);

    struct Mapping {
        std::string path;
        uint32_t deviceMajor = 0;
        uint32_t deviceMinor = 0;
        uint64_t inode = 0;
    };
    // One line of /proc/PID/maps; nothing for anonymous and pseudo mappings ("[heap]"),
    // for deleted files and for lines that don't parse.
    static std::optional<Mapping> parseMapsLine(std::string_view line);

    // This process's file-creation mask from "self/status", read rather than asked of
    // umask(2), which can only be read by changing it under every other thread.
    std::optional<mode_t> ownUmask() const;
    // The "Umask:" field of a status text (octal); nothing when absent or malformed.
    static std::optional<mode_t> parseUmask(std::string_view status);

private:
    std::string processPath(int32_t pid, std::string_view entry) const;

    std::string root_;
};

}  // namespace keldwick::platform
