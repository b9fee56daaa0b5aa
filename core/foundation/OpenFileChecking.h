#pragma once
// Which running processes hold files (or, other than this one, folders) open, or sit with
// their working directory, under a folder. The scanner skips such items, the engine refuses them and the cache cleaner keeps
// them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ProcFS.h"

namespace keldwick {

// A file held open by a process (or the process's working directory).
struct OpenFileUsage {
    std::string path;         // absolute, as the process sees it
    int32_t pid = 0;
    std::string processName;  // the owning app's name, else the short process name; may be empty

    bool operator==(const OpenFileUsage&) const = default;
};

class OpenFileChecking {
public:
    virtual ~OpenFileChecking() = default;

    // Every use under `folder` (the folder itself, or a path beginning with folder + "/";
    // trailing slashes of `folder` are ignored, "/" means everything). Grouped by process in
    // ascending pid order; within a process its open files (and, for other processes than
    // this one, open folders) in descriptor order, then its
    // executable and memory-mapped files (each once, and only when no descriptor named them),
    // then its working directory. A working directory of "/" is never listed. An empty list
    // means nothing under the folder is in use. Never throws.
    virtual std::vector<OpenFileUsage> usage(const std::string& folder) const = 0;
};

// The real checker: reads the process table from procfs. Processes this user may not
// inspect, and processes that exit mid-read, contribute nothing. On the live system a
// regular file that the kernel counts as held open by nothing needs no reading at all.
class ProcessOpenFileChecker final : public OpenFileChecking {
public:
    // `procRoot` is "/proc" on a live system; tests hand in a fixture tree.
    explicit ProcessOpenFileChecker(std::string procRoot = "/proc");

    std::vector<OpenFileUsage> usage(const std::string& folder) const override;

private:
    platform::ProcFS proc_;
    bool isLiveSystem_;
};

namespace AppOwner {

// The app that owns a process: the first path component ending in ".app" (counted from the
// root) of the executable's path, without that suffix; otherwise the same question of the
// parent, eight processes at most. Nothing for pids below 2, when a process can't be read,
// or when no app is found.
std::optional<std::string> name(int32_t pid);
std::optional<std::string> name(int32_t pid, const platform::ProcFS& proc);

}  // namespace AppOwner

}  // namespace keldwick

template <>
struct std::hash<keldwick::OpenFileUsage> {
    size_t operator()(const keldwick::OpenFileUsage& u) const noexcept {
        size_t h = std::hash<std::string>{}(u.path);
        h = h * 31 + std::hash<int32_t>{}(u.pid);
        return h * 31 + std::hash<std::string>{}(u.processName);
    }
};
