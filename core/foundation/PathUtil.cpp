#include "foundation/PathUtil.h"


#include "foundation/Utf8.h"
#include "platform/FileStatus.h"

namespace keldwick::PathUtil {

namespace {

// The end of the path once trailing slashes are dropped; a path of slashes keeps one.
size_t endWithoutTrailingSlashes(std::string_view path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    return end;
}

// Components neither empty, "." nor "..", no NUL, and the whole valid UTF-8.
bool hasCleanComponents(std::string_view path) {
    if (path.find('\0') != std::string_view::npos || !Utf8::isValid(path)) return false;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('/', start);
        std::string_view part = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

}  // namespace

std::string withoutTrailingSlashes(std::string_view path) {
    return std::string(path.substr(0, endWithoutTrailingSlashes(path)));
}

bool isCleanAbsolute(std::string_view path) {
    return path.size() > 1 && path.front() == '/' && hasCleanComponents(path.substr(1));
}

bool isCleanRelative(std::string_view path) {
    return !path.empty() && path.front() != '/' && hasCleanComponents(path);
}

std::string join(std::string_view parent, std::string_view child) {
    if (child.empty()) return std::string(parent);
    std::string result(parent);
    if (result.empty() || result.back() != '/') result += '/';
    result += child;
    return result;
}

std::string name(std::string_view path) {
    if (path.empty()) return std::string();
    size_t end = endWithoutTrailingSlashes(path);
    std::string_view trimmed = path.substr(0, end);
    if (trimmed == "/") return "/";
    size_t slash = trimmed.rfind('/');
    return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

std::string parent(std::string_view path) {
    if (path.empty()) return std::string();
    std::string_view trimmed = path.substr(0, endWithoutTrailingSlashes(path));
    if (trimmed == "/") return "/";
    size_t slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) return std::string();
    std::string_view rest = trimmed.substr(0, slash);
    rest = rest.substr(0, endWithoutTrailingSlashes(rest));
    return rest.empty() ? "/" : std::string(rest);
}

bool isInside(std::string_view path, std::string_view folder) {
    if (path == folder) return true;
    if (!folder.empty() && folder.back() == '/') return path.starts_with(folder);
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

bool isInsideIgnoringCase(std::string_view path, std::string_view folder) {
    return isInside(Utf8::lowercased(path), Utf8::lowercased(folder));
}

std::optional<std::string> canonical(const std::string& path) {
    return platform::resolvedPath(path);
}

}  // namespace keldwick::PathUtil
