#pragma once
// The kernel's mount table as /proc/self/mountinfo shows it, one entry per line:
//   36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue
// (mount id, parent id, device major:minor, root inside the file system, mount point,
// per-mount options, optional fields, "-", type, source, super-block options).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::platform {

struct MountEntry {
    int64_t mountId = 0;
    int64_t parentId = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    std::string root;        // the folder of the file system that is mounted ("/" for a whole volume)
    std::string mountPoint;  // unescaped
    std::string mountOptions;
    std::string fsType;      // "ext4", "fuseblk", "fuse.sshfs", ...
    std::string source;      // "/dev/sdb1", "tmpfs", "server:/export", ...
    std::string superOptions;

    // True when `name` is one of the per-mount or super-block options (exact, without value).
    bool hasOption(std::string_view name) const;
    // The value of a "name=value" super-block option ("uid=1000" gives "1000"); nothing
    // when the option isn't there.
    std::optional<std::string> superOptionValue(std::string_view name) const;
    bool isReadOnly() const { return hasOption("ro"); }

    bool operator==(const MountEntry&) const = default;
};

namespace MountTable {

// Undoes the kernel's octal escapes ("\040" space, "\011" tab, "\012" line feed, "\134"
// backslash); anything else stays as it is.
std::string unescape(std::string_view field);

// Every well-formed line, in table order; malformed lines are skipped.
std::vector<MountEntry> parse(std::string_view text);

// The table's text at `path`; nothing when it can't be read.
std::optional<std::string> readText(const std::string& path);

// Reads and parses the table at `path`; empty when it can't be read.
std::vector<MountEntry> read(const std::string& path);

// The entry that is visible at "/" (the last one mounted there).
const MountEntry* rootEntry(const std::vector<MountEntry>& table);

}  // namespace MountTable

}  // namespace keldwick::platform
