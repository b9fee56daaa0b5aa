#pragma once
// Real volumes for tests that run as root: file-system images attached to loop devices
// and mounted by the kernel or through FUSE, and tmpfs mounts. Each guard unmounts and
// detaches what it made. Tests call `skipReason()` first and GTEST_SKIP with it.

#include <optional>
#include <string>

namespace keldwick::test {

// Runs a shell command quietly; true when it exits with 0.
bool run(const std::string& command);
// Why mounts can't be made here ("not root", "mkfs.exfat is missing", ...), or nothing.
std::optional<std::string> mountSkipReason(const std::string& tool = "");

// A file-system image of `megabytes` made with `mkfs` (e.g. "mkfs.ext4 -q -F -L Label"),
// on a loop device, mounted at `mountPoint` with `mountCommand` ("mount", "mount -o ro",
// "mount.exfat-fuse", "ntfs-3g"); the device path and the mount point are appended.
class LoopVolume {
public:
    LoopVolume(const std::string& image, int megabytes, const std::string& mkfs, const std::string& mountCommand,
               const std::string& mountPoint);
    ~LoopVolume();
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;

    // Empty when something failed (see error()).
    const std::string& device() const { return device_; }
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    void unmount();

private:
    std::string image_, mountPoint_, device_, error_;
    bool mounted_ = false;
};

class TmpfsMount {
public:
    TmpfsMount(const std::string& mountPoint, const std::string& options = "size=16m");
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string mountPoint_;
    bool mounted_ = false;
};

}  // namespace keldwick::test
