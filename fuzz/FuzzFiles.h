#pragma once
// A scratch folder in memory for harnesses whose reader takes a path.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace keldwick::fuzz {

inline const std::string& scratchFolder() {
    // Never destroyed, so the removal at exit still knows it.
    static const std::string* folder = [] {
        char pattern[] = "/dev/shm/keldwick-fuzz-XXXXXX";
        if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
        auto* made = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return made;
    }();
    return *folder;
}

// A drive root in the scratch folder, with its app folder made.
inline const std::string& scratchDrive() {
    static const std::string root = [] {
        const std::string folder = scratchFolder() + "/drive";
        ::mkdir(folder.c_str(), 0700);
        ::mkdir((folder + "/Keldwick").c_str(), 0700);
        return folder;
    }();
    return root;
}

inline void writeAll(const std::string& path, const uint8_t* data, size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("open " + path);
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0) throw std::runtime_error("write " + path);
        data += n;
        size -= static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace keldwick::fuzz
