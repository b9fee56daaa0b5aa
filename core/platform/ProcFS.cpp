#include "platform/ProcFS.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <unordered_set>

#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick::platform {

namespace {

constexpr std::string_view kDeletedSuffix = " (deleted)";

template <typename T>
std::optional<T> parseNumber(std::string_view text, int base = 10) {
    T value{};
    if (text.empty()) return std::nullopt;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::string> readLinkText(const std::string& path) {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        if (buffer.size() >= (1u << 20)) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

// procfs files report size 0, so read until the end.
std::optional<std::string> readWhole(const std::string& path, size_t limit = 64u << 20) {
    Fd fd = openRead(path, O_NONBLOCK);
    if (!fd) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > limit) return std::nullopt;
    }
    return bytes;
}

std::vector<std::string> entryNames(const std::string& folder) {
    try {
        return readNames(openDirectory(AT_FDCWD, folder), folder);
    } catch (const POSIXFailure&) {
        return {};  // the process has gone, or isn't ours to inspect
    }
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

ProcFS::ProcFS(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string ProcFS::processPath(int32_t pid, std::string_view entry) const {
    std::string path = root_;
    path += '/';
    path += std::to_string(pid);
    if (!entry.empty()) {
        path += '/';
        path += entry;
    }
    return path;
}

std::vector<int32_t> ProcFS::processIDs() const {
    std::vector<int32_t> ids;
    for (const auto& name : entryNames(root_)) {
        if (auto pid = parseNumber<int32_t>(name); pid && *pid > 0) ids.push_back(*pid);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<std::string> ProcFS::openRegularFiles(int32_t pid, const PathFilter& wanted, bool withFolders) const {
    const std::string folder = processPath(pid, "fd");
    std::vector<int> descriptors;
    for (const auto& name : entryNames(folder)) {
        if (auto fd = parseNumber<int>(name); fd && *fd >= 0) descriptors.push_back(*fd);
    }
    std::sort(descriptors.begin(), descriptors.end());

    std::vector<std::string> paths;
    for (int fd : descriptors) {
        const std::string link = folder + "/" + std::to_string(fd);
        auto target = readLinkText(link);
        // Sockets, pipes and anonymous inodes read as "socket:[…]", "anon_inode:…".
        if (!target || target->empty() || target->front() != '/') continue;
        if (wanted && !wanted(*target)) continue;
        // stat follows the magic link to the open inode itself, whatever its name now.
        struct stat st {};
        if (::stat(link.c_str(), &st) != 0) continue;
        if (!S_ISREG(st.st_mode) && !(withFolders && S_ISDIR(st.st_mode))) continue;
        if (st.st_nlink == 0) continue;  // deleted: nothing at that path any more
        paths.push_back(std::move(*target));
    }
    return paths;
}

std::vector<std::string> ProcFS::mappedRegularFiles(int32_t pid, const PathFilter& wanted) const {
    std::vector<std::string> paths;
    auto text = readWhole(processPath(pid, "maps"));
    if (!text) return paths;
    std::unordered_set<std::string> seen;
    std::string_view rest = *text;
    while (!rest.empty()) {
        auto newline = rest.find('\n');
        std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        auto mapping = parseMapsLine(line);
        if (!mapping || seen.count(mapping->path) || (wanted && !wanted(mapping->path))) continue;
        // Device and inode numbers are not compared: btrfs subvolumes and overlay mounts
        // report other numbers through stat than the map shows, and a stale match only
        // errs towards "in use".
        struct stat st {};
        if (::stat(mapping->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        seen.insert(mapping->path);
        paths.push_back(std::move(mapping->path));
    }
    return paths;
}

std::optional<std::string> ProcFS::workingDirectory(int32_t pid) const {
    const std::string link = processPath(pid, "cwd");
    auto target = readLinkText(link);
    if (!target || target->empty() || target->front() != '/') return std::nullopt;
    if (endsWith(*target, kDeletedSuffix)) {
        struct stat st {};
        if (::stat(link.c_str(), &st) != 0 || st.st_nlink == 0) return std::nullopt;
    }
    return target;
}

std::optional<std::string> ProcFS::executablePath(int32_t pid) const {
    auto target = readLinkText(processPath(pid, "exe"));
    if (!target || target->empty()) return std::nullopt;
    return target;
}

std::optional<std::string> ProcFS::executableFile(int32_t pid) const {
    const std::string link = processPath(pid, "exe");
    auto target = readLinkText(link);
    if (!target || target->empty() || target->front() != '/') return std::nullopt;
    struct stat st {};
    if (::stat(link.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink == 0) return std::nullopt;
    return target;
}

std::optional<std::string> ProcFS::shortName(int32_t pid) const {
    auto text = readWhole(processPath(pid, "comm"), 4096);
    if (!text) return std::nullopt;
    if (!text->empty() && text->back() == '\n') text->pop_back();
    return text;
}

std::vector<std::string> ProcFS::commandLine(int32_t pid) const {
    std::vector<std::string> arguments;
    auto text = readWhole(processPath(pid, "cmdline"), 65536);
    if (!text) return arguments;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\0', start);
        if (end == std::string::npos) end = text->size();
        arguments.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

std::optional<int32_t> ProcFS::parentID(int32_t pid) const {
    auto text = readWhole(processPath(pid, "stat"), 65536);
    if (!text) return std::nullopt;
    return parseParentID(*text);
}

std::optional<mode_t> ProcFS::ownUmask() const {
    auto text = readWhole(root_ + "/self/status", 65536);
    if (!text) return std::nullopt;
    return parseUmask(*text);
}

std::optional<mode_t> ProcFS::parseUmask(std::string_view status) {
    constexpr std::string_view key = "Umask:";
    size_t at = 0;
    while (at < status.size()) {
        size_t end = status.find('\n', at);
        std::string_view line = status.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (line.substr(0, key.size()) == key) {
            std::string_view value = line.substr(key.size());
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            if (value.empty() || value.size() > 4) return std::nullopt;
            mode_t mask = 0;
            for (char digit : value) {
                if (digit < '0' || digit > '7') return std::nullopt;
                mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(digit - '0'));
            }
            return mask & 0777;
        }
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<int32_t> ProcFS::parseParentID(std::string_view statLine) {
    auto close = statLine.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view rest = statLine.substr(close + 1);
    // Fields after the name: state, then the parent id.
    auto next = [&rest]() -> std::string_view {
        auto start = rest.find_first_not_of(" \n");
        if (start == std::string_view::npos) return {};
        rest = rest.substr(start);
        auto end = rest.find_first_of(" \n");
        std::string_view field = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        return field;
    };
    if (next().empty()) return std::nullopt;
    return parseNumber<int32_t>(next());
}

std::optional<ProcFS::Mapping> ProcFS::parseMapsLine(std::string_view line) {
    // address perms offset dev inode [padding] path
    std::string_view fields[5];
    std::string_view rest = line;
    for (auto& field : fields) {
        auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::nullopt;
        rest = rest.substr(start);
        auto end = rest.find(' ');
        field = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    auto start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    std::string_view path = rest.substr(start);
    if (path.front() != '/' || endsWith(path, kDeletedSuffix)) return std::nullopt;

    auto colon = fields[3].find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto major = parseNumber<uint32_t>(fields[3].substr(0, colon), 16);
    auto minor = parseNumber<uint32_t>(fields[3].substr(colon + 1), 16);
    auto inode = parseNumber<uint64_t>(fields[4]);
    if (!major || !minor || !inode || *inode == 0) return std::nullopt;
    return Mapping{std::string(path), *major, *minor, *inode};
}

}  // namespace keldwick::platform
