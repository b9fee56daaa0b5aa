#pragma once
// Helpers of the space tests: files of a given size, what they occupy on disk and a child
// process that holds a file open.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/FakeOpenFiles.h"
#include "support/TempDir.h"

namespace keldwick::test {

// A file of `bytes` bytes of real data (never sparse); returns its path.
inline std::string writeSized(const std::string& path, size_t bytes) {
    return writeFile(path, std::string(bytes, 'x'));
}

// The space a path occupies on disk (blocks × 512), as measuring should count it.
inline int64_t allocatedOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat " + path);
    return static_cast<int64_t>(st.st_blocks) * 512;
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A child process that holds `path` open (opened by that spelling) until it goes away.
class OpenFileHolder {
public:
    explicit OpenFileHolder(const std::string& path) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.c_str(), O_RDONLY);
            char c = fd >= 0 ? 1 : 0;
            if (::write(ready[1], &c, 1) != 1) ::_exit(2);
            ssize_t ignored = ::read(release[0], &c, 1);
            (void)ignored;
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char c = 0;
        ok_ = ::read(ready[0], &c, 1) == 1 && c == 1;
        ::close(ready[0]);
    }
    ~OpenFileHolder() {
        ::close(release_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    OpenFileHolder(const OpenFileHolder&) = delete;
    OpenFileHolder& operator=(const OpenFileHolder&) = delete;
    bool ok() const { return ok_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool ok_ = false;
};

}  // namespace keldwick::test
