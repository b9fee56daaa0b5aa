// The file systems a benchmark works on, as the program meets them: a home and a drive that
// are volumes of their own. As root they are ext4 images on loop devices with direct I/O,
// so that pages written back and dropped really go to the disk under the image and a
// later read really comes from it; elsewhere two folders stand in, and the benchmark says
// so. Also: how many of a file's pages are in the page cache (mincore), so that a
// benchmark can say whether a verify it times reads the medium.

#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Alternation.h"

namespace keldwick::bench {

// Runs `command` with its output thrown away; true when it exits with 0.
inline bool quietly(const std::string& command) {
    return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
}

// The command's first line of output, without its newline; empty when it fails.
inline std::string firstLineOf(const std::string& command) {
    std::string line;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, pipe)) line = buffer;
        ::pclose(pipe);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

// An ext4 image of `megabytes` (sparse) on a loop device with direct I/O, mounted at `at`;
// unmounted, its device freed and the image removed when it goes. `why` says what failed
// when `mounted` is false.
struct LoopVolume {
    std::string image, at, device, why;
    bool mounted = false;

    LoopVolume(std::string imagePath, std::string mountPoint, long megabytes)
        : image(std::move(imagePath)), at(std::move(mountPoint)) {
        std::error_code ignored;
        std::filesystem::create_directories(at, ignored);
        if (::geteuid() != 0) {
            why = "loop-mounting volumes needs root";
            return;
        }
        if (!quietly("command -v mkfs.ext4 && command -v losetup")) {
            why = "mkfs.ext4 or losetup is missing";
            return;
        }
        if (!quietly("truncate -s " + std::to_string(megabytes) + "M '" + image + "'") ||
            !quietly("mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 '" + image + "'")) {
            why = "the image could not be made";
            return;
        }
        device = firstLineOf("losetup -f --show --direct-io=on '" + image + "' 2>/dev/null");
        if (device.empty()) {
            why = "no loop device could be set up";
            return;
        }
        mounted = quietly("mount '" + device + "' '" + at + "'");
        if (!mounted) why = "the loop device could not be mounted";
    }
    ~LoopVolume() {
        if (mounted && !quietly("umount '" + at + "'")) quietly("umount -l '" + at + "'");
        if (!device.empty()) quietly("losetup -d '" + device + "'");
        std::error_code ignored;
        std::filesystem::remove(image, ignored);
        std::filesystem::remove(at, ignored);
    }
    LoopVolume(const LoopVolume&) = delete;
    LoopVolume& operator=(const LoopVolume&) = delete;
};

// A home and a drive: loop volumes where they can be had, else two folders beneath
// `folder`. `description` says which, for the benchmark's first lines.
struct HomeAndDrive {
    std::string home, drive, description;
    std::unique_ptr<LoopVolume> homeVolume, driveVolume;

    HomeAndDrive(const std::string& folder, long homeMegabytes, long driveMegabytes) {
        homeVolume = std::make_unique<LoopVolume>(folder + "/home.img", folder + "/home", homeMegabytes);
        if (homeVolume->mounted)
            driveVolume = std::make_unique<LoopVolume>(folder + "/drive.img", folder + "/drive", driveMegabytes);
        if (homeVolume->mounted && driveVolume->mounted) {
            home = homeVolume->at;
            drive = driveVolume->at;
            description = "home and drive: two ext4 images on loop devices with direct I/O (" + homeVolume->device +
                          ", " + driveVolume->device + ") in " + folder;
            return;
        }
        const std::string why = !homeVolume->mounted ? homeVolume->why : driveVolume->why;
        driveVolume.reset();
        homeVolume.reset();
        home = folder + "/home";
        drive = folder + "/drive";
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(drive);
        description = "home and drive: two folders of one file system in " + folder + " (no loop volumes: " + why +
                      "), so the copy never crosses file systems";
    }
};

// Pages of the regular files at `path` (one file, or every file beneath a folder) that
// are in the page cache, and how many pages they have; `checked` is false where mincore
// can't tell (the call failed).
struct Residency {
    long resident = 0, pages = 0;
    bool checked = true;
};

inline void addResidency(const std::filesystem::path& file, Residency& sum) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        sum.checked = false;
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_size > 0) {
        const long page = ::sysconf(_SC_PAGESIZE);
        const size_t length = static_cast<size_t>(status.st_size);
        void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            sum.checked = false;
        } else {
            std::vector<unsigned char> in((length + page - 1) / page);
            if (::mincore(map, length, in.data()) != 0) sum.checked = false;
            for (unsigned char bit : in) sum.resident += bit & 1;
            sum.pages += static_cast<long>(in.size());
            ::munmap(map, length);
        }
    }
    ::close(fd);
}

inline Residency residency(const std::string& path) {
    namespace fs = std::filesystem;
    Residency sum;
    std::error_code error;
    if (fs::is_regular_file(path, error)) {
        addResidency(path, sum);
        return sum;
    }
    for (const auto& entry : fs::recursive_directory_iterator(path, error))
        if (entry.is_regular_file(error)) addResidency(entry.path(), sum);
    if (error) sum.checked = false;
    return sum;
}

// "0 of 1234 pages in the page cache", or why it can't be told.
inline std::string describe(const Residency& r) {
    if (!r.checked) return "mincore could not tell which pages are cached";
    return std::to_string(r.resident) + " of " + std::to_string(r.pages) + " pages in the page cache";
}

}  // namespace keldwick::bench
