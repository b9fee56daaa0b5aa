#include "foundation/XdgUserDirs.h"

#include <cerrno>
#include <optional>
#include <sstream>

#include "foundation/PathUtil.h"
#include "foundation/UserFolders.h"
#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/FileStatus.h"

namespace keldwick::XdgUserDirs {

namespace {

// The file is a few hundred bytes; refuse anything that isn't a small regular file.
constexpr off_t maxBytes = 64 * 1024;

std::string readSmallFile(const std::string& path) {
    const platform::Fd fd = platform::openRead(path, O_NONBLOCK);
    if (!fd) return {};
    std::string text;
    struct stat st {};
    if (platform::statusOf(fd.get(), st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxBytes) {
        char buffer[4096];
        for (;;) {
            ssize_t n = platform::readSome(fd.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
            if (text.size() > static_cast<size_t>(maxBytes)) {
                text.clear();
                break;
            }
        }
    }
    return text;
}

std::string trim(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    size_t end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

bool isKey(const std::string& key) {
    if (key.size() <= 8 || !key.starts_with("XDG_") || !key.ends_with("_DIR")) return false;
    for (char c : key) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return true;
}

// The quoted value with shell escapes undone; nothing when the quoting is broken.
std::optional<std::string> unquote(const std::string& value) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') return std::nullopt;
    std::string out;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        char c = value[i];
        if (c == '\\') {
            if (i + 2 >= value.size()) return std::nullopt;
            out += value[++i];
        } else if (c == '"') {
            return std::nullopt;
        } else {
            out += c;
        }
    }
    return out;
}

struct Entry {
    std::string key;
    std::string path;
};

// Each good line's key and folder, in file order.
std::vector<Entry> entries(const std::string& text, const std::string& givenHome) {
    const std::string home = PathUtil::withoutTrailingSlashes(givenHome);
    std::vector<Entry> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = trim(line.substr(0, equals));
        if (!isKey(key)) continue;
        auto value = unquote(trim(line.substr(equals + 1)));
        if (!value) continue;
        std::string path;
        if (value->starts_with("$HOME/")) {
            path = PathUtil::join(home, value->substr(6));
        } else if (*value == "$HOME") {
            continue;
        } else if (value->starts_with("/")) {
            path = *value;
        } else {
            continue;
        }
        path = PathUtil::withoutTrailingSlashes(path);
        // "." and ".." would lead the test below astray.
        if (path.find("/./") != std::string::npos || path.find("/../") != std::string::npos ||
            path.ends_with("/.") || path.ends_with("/.."))
            continue;
        if (path == home || !PathUtil::isInside(path, home)) continue;
        found.push_back({std::move(key), std::move(path)});
    }
    return found;
}

}  // namespace

std::string filePath(const std::string& home) {
    if (auto config = UserFolders::absoluteVariable("XDG_CONFIG_HOME")) return PathUtil::join(*config, "user-dirs.dirs");
    return PathUtil::join(home, ".config/user-dirs.dirs");
}

std::string fileText(const std::string& home) { return readSmallFile(filePath(home)); }

std::vector<std::string> parse(const std::string& text, const std::string& home) {
    std::vector<std::string> folders;
    for (auto& entry : entries(text, home)) folders.push_back(std::move(entry.path));
    return folders;
}

std::vector<std::string> read(const std::string& home) { return parse(fileText(home), home); }

std::optional<std::string> folder(const std::string& text, const std::string& key, const std::string& home) {
    std::optional<std::string> found;
    for (auto& entry : entries(text, home)) {
        if (entry.key == key) found = std::move(entry.path);
    }
    return found;
}

std::string folderOrDefault(const std::string& home, const std::string& key, const std::string& englishName) {
    if (auto named = folder(fileText(home), key, home)) return *named;
    return PathUtil::join(PathUtil::withoutTrailingSlashes(home), englishName);
}

std::string desktop(const std::string& home) { return folderOrDefault(home, "XDG_DESKTOP_DIR", "Desktop"); }
std::string downloads(const std::string& home) { return folderOrDefault(home, "XDG_DOWNLOAD_DIR", "Downloads"); }
std::string documents(const std::string& home) { return folderOrDefault(home, "XDG_DOCUMENTS_DIR", "Documents"); }

}  // namespace keldwick::XdgUserDirs
