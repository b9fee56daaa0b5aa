#include "support/RealMounts.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "support/TempDir.h"

namespace keldwick::test {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    return out + "'";
}

std::string output(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return text;
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe)) text += buffer.data();
    ::pclose(pipe);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::optional<std::string> mountSkipReason(const std::string& tool) {
    if (::geteuid() != 0) return "mounting needs root";
    if (::access("/dev/loop-control", R_OK | W_OK) != 0) return "no loop devices here";
    if (!tool.empty() && !run("command -v " + tool)) return tool + " is not installed";
    return std::nullopt;
}

LoopVolume::LoopVolume(const std::string& image, int megabytes, const std::string& mkfs,
                       const std::string& mountCommand, const std::string& mountPoint)
    : image_(image), mountPoint_(mountPoint) {
    makeDirs(mountPoint);
    if (!run("truncate -s " + std::to_string(megabytes) + "M " + quoted(image)) || !run(mkfs + " " + quoted(image))) {
        error_ = "could not make the image with: " + mkfs;
        return;
    }
    device_ = output("losetup -f --show " + quoted(image) + " 2>/dev/null");
    if (device_.rfind("/dev/loop", 0) != 0) {
        error_ = "no free loop device";
        device_.clear();
        return;
    }
    if (!run(mountCommand + " " + quoted(device_) + " " + quoted(mountPoint))) {
        error_ = "mounting failed: " + mountCommand;
        return;
    }
    mounted_ = true;
}

void LoopVolume::unmount() {
    if (!mounted_) return;
    if (!run("umount " + quoted(mountPoint_)) && !run("fusermount3 -u " + quoted(mountPoint_))) {
        run("umount -l " + quoted(mountPoint_));
    }
    mounted_ = false;
}

LoopVolume::~LoopVolume() {
    unmount();
    if (!device_.empty()) run("losetup -d " + quoted(device_));
}

TmpfsMount::TmpfsMount(const std::string& mountPoint, const std::string& options) : mountPoint_(mountPoint) {
    makeDirs(mountPoint);
    mounted_ = run("mount -t tmpfs -o " + options + " tmpfs " + quoted(mountPoint));
}

TmpfsMount::~TmpfsMount() {
    if (mounted_ && !run("umount " + quoted(mountPoint_))) run("umount -l " + quoted(mountPoint_));
}

}  // namespace keldwick::test
