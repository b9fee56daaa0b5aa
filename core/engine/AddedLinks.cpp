#include "engine/AddedLinks.h"

#include <cerrno>
#include <deque>
#include <vector>

#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/Statx.h"

namespace keldwick::AddedLinks {

namespace {

// As the kernel does: a path resolves through at most 40 links.
constexpr int kMaxLinks = 40;

std::deque<std::string> componentsOf(const std::string& path) {
    std::deque<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string path;
    for (const auto& part : parts) path += (path.empty() ? "" : "/") + part;
    return path;
}

// Prepends a link's target to what is left to resolve.
void pushTarget(std::deque<std::string>& remaining, const std::string& target) {
    auto parts = componentsOf(target);
    remaining.insert(remaining.begin(), parts.begin(), parts.end());
}

std::optional<std::string> linkTarget(int dirFd, const std::string& name) {
    std::string buffer(4096, '\0');
    const ssize_t n = platform::readLinkAt(dirFd, name.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) return std::nullopt;
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

bool closedToOthers(const struct statx& status, uid_t user) {
    if (status.stx_uid != 0 && status.stx_uid != user) return false;
    if (status.stx_mode & S_IWOTH) return false;
    return !(status.stx_mode & S_IWGRP) || status.stx_gid == 0;
}

}  // namespace

bool staysInside(const std::unordered_map<std::string, TreeEntry>& entries, const std::string& linkPath,
                 const std::string& target) {
    if (!target.empty() && target.front() == '/') return false;
    auto here = componentsOf(linkPath);
    if (!here.empty()) here.pop_back();
    std::vector<std::string> at(here.begin(), here.end());
    std::deque<std::string> remaining = componentsOf(target);
    int links = 0;
    while (!remaining.empty()) {
        const std::string part = remaining.front();
        remaining.pop_front();
        if (part == ".") continue;
        if (part == "..") {
            if (at.empty()) return false;
            at.pop_back();
            continue;
        }
        at.push_back(part);
        auto found = entries.find(joined(at));
        if (found == entries.end() || found->second.kind != TreeEntry::Kind::symlink) continue;
        const std::string next = found->second.target.value_or("");
        if (++links > kMaxLinks || next.empty() || next.front() == '/') return false;
        at.pop_back();
        pushTarget(remaining, next);
    }
    return true;
}

std::optional<Refusal> judgePlace(const std::string& absolutePath, uid_t user) {
    if (absolutePath.empty() || absolutePath.front() != '/') return Refusal::missing;
    // The folders reached so far, each held open so that nothing on the way is looked up by name twice.
    std::vector<platform::Fd> folders;
    auto openRoot = [&] {
        folders.clear();
        folders.push_back(platform::openRead("/", O_PATH | O_DIRECTORY));
        if (!folders.back()) return false;
        struct statx status {};
        return platform::statxOfDescriptor(folders.back().get(), status) == 0 && closedToOthers(status, user);
    };
    if (!openRoot()) return Refusal::folderOthersCanChange;
    std::deque<std::string> remaining = componentsOf(absolutePath);
    int links = 0;
    while (!remaining.empty()) {
        const std::string part = remaining.front();
        remaining.pop_front();
        if (part == ".") continue;
        if (part == "..") {
            if (folders.size() > 1) folders.pop_back();
            continue;
        }
        const int at = folders.back().get();
        struct statx status {};
        if (platform::statxNoFollow(at, part.c_str(), status) != 0) return Refusal::missing;
        if (S_ISLNK(status.stx_mode)) {
            // The link itself can't be written through; the folder holding it was judged.
            auto target = linkTarget(at, part);
            if (!target || ++links > kMaxLinks) return Refusal::missing;
            if (!target->empty() && target->front() == '/' && !openRoot()) return Refusal::folderOthersCanChange;
            pushTarget(remaining, *target);
            continue;
        }
        if (!closedToOthers(status, user))
            return S_ISDIR(status.stx_mode) ? Refusal::folderOthersCanChange : Refusal::fileOthersCanChange;
        if (S_ISDIR(status.stx_mode)) {
            platform::Fd next = platform::openReadAt(at, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW);
            if (!next) return Refusal::missing;
            struct statx opened {};
            // The folder opened must be the one judged.
            if (platform::statxOfDescriptor(next.get(), opened) != 0 || opened.stx_ino != status.stx_ino ||
                !closedToOthers(opened, user))
                return Refusal::folderOthersCanChange;
            folders.push_back(std::move(next));
        } else if (!remaining.empty()) {
            return Refusal::missing;
        }
    }
    return std::nullopt;
}

std::string lexicallyNormal(const std::string& absolutePath) {
    std::vector<std::string> at;
    for (const auto& part : componentsOf(absolutePath)) {
        if (part == ".") continue;
        if (part == "..") {
            if (!at.empty()) at.pop_back();
            continue;
        }
        at.push_back(part);
    }
    return "/" + joined(at);
}

}  // namespace keldwick::AddedLinks
