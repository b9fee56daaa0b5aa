#include "foundation/OpenFileChecking.h"

#include <string_view>
#include <unordered_set>

#include "foundation/PathUtil.h"
#include "foundation/Utf8.h"
#include "platform/FileLease.h"
#include "platform/ProcessFacts.h"

namespace keldwick {

namespace {

bool isUnder(std::string_view path, std::string_view folder) {
    if (path == folder) return true;
    if (!folder.empty() && folder.back() == '/') return path.substr(0, folder.size()) == folder;
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder && path[folder.size()] == '/';
}

// Names are shown to the user; invalid bytes become U+FFFD.
std::optional<std::string> appComponent(std::string_view path) {
    constexpr std::string_view suffix = ".app";
    size_t position = 0;
    while (position < path.size()) {
        size_t slash = path.find('/', position);
        std::string_view piece = path.substr(position, slash == std::string_view::npos ? slash : slash - position);
        if (piece.size() >= suffix.size() && piece.substr(piece.size() - suffix.size()) == suffix)
            return Utf8::replacingInvalid(piece.substr(0, piece.size() - suffix.size()));
        if (slash == std::string_view::npos) break;
        position = slash + 1;
    }
    return std::nullopt;
}

}  // namespace

ProcessOpenFileChecker::ProcessOpenFileChecker(std::string procRoot)
    : proc_(std::move(procRoot)), isLiveSystem_(proc_.root() == "/proc") {}

std::vector<OpenFileUsage> ProcessOpenFileChecker::usage(const std::string& given) const {
    const std::string folder = PathUtil::withoutTrailingSlashes(given);
    std::vector<OpenFileUsage> result;
    // Reading every process's descriptors and mappings takes tens of milliseconds; for a
    // file that the kernel says nothing holds open there is nothing to find. The kernel
    // speaks for the live system only, not for a process table laid out elsewhere.
    if (isLiveSystem_ && platform::FileLease::isHeldOpen(folder) == false) return result;
    const platform::ProcFS::PathFilter under = [&folder](std::string_view path) { return isUnder(path, folder); };
    const auto self = platform::processID();
    for (int32_t pid : proc_.processIDs()) {
        std::vector<std::string> found;
        std::unordered_set<std::string> seen;
        // A process holding a folder open can create files in it through that descriptor.
        // This program's own folder descriptors are its walks, which create nothing.
        for (auto& path : proc_.openRegularFiles(pid, under, pid != self)) {
            seen.insert(path);
            found.push_back(std::move(path));
        }
        // A running program or a mapped library keeps its file busy without a descriptor.
        std::vector<std::string> mapped;
        if (auto exe = proc_.executableFile(pid)) mapped.push_back(std::move(*exe));
        for (auto& path : proc_.mappedRegularFiles(pid, under)) mapped.push_back(std::move(path));
        for (auto& path : mapped) {
            if (!isUnder(path, folder) || !seen.insert(path).second) continue;
            found.push_back(std::move(path));
        }
        if (auto cwd = proc_.workingDirectory(pid); cwd && *cwd != "/" && isUnder(*cwd, folder))
            found.push_back(std::move(*cwd));
        if (found.empty()) continue;

        std::string name;
        if (auto owner = AppOwner::name(pid, proc_))
            name = std::move(*owner);
        else if (auto shortName = proc_.shortName(pid))
            name = Utf8::replacingInvalid(*shortName);
        for (auto& path : found) result.push_back(OpenFileUsage{std::move(path), pid, name});
    }
    return result;
}

namespace AppOwner {

std::optional<std::string> name(int32_t pid) { return name(pid, platform::ProcFS()); }

std::optional<std::string> name(int32_t pid, const platform::ProcFS& proc) {
    for (int looked = 0; looked < 8; ++looked) {
        if (pid < 2) return std::nullopt;
        if (auto exe = proc.executablePath(pid)) {
            if (auto app = appComponent(*exe)) return app;
        }
        auto parent = proc.parentID(pid);
        if (!parent || *parent == pid) return std::nullopt;
        pid = *parent;
    }
    return std::nullopt;
}

}  // namespace AppOwner

}  // namespace keldwick
