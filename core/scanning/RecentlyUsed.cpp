#include "scanning/RecentlyUsed.h"

#include <expat.h>

#include <cstring>
#include <optional>

#include "foundation/AtomicFile.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/UserFolders.h"

namespace keldwick::RecentlyUsed {

namespace {

// Bookmark files are small; anything far larger is not one we should trust.
constexpr size_t maxBookmarkFileBytes = 64u << 20;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "file:///a%20b" -> "/a b"; nothing for other schemes, remote hosts or bad escapes.
std::optional<std::string> pathFromFileURI(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (uri.size() < scheme.size() || uri.substr(0, scheme.size()) != scheme) return std::nullopt;
    std::string_view rest = uri.substr(scheme.size());
    if (rest.substr(0, 9) == "localhost") rest.remove_prefix(9);
    if (rest.empty() || rest.front() != '/') return std::nullopt;
    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '%') {
            if (i + 2 >= rest.size()) return std::nullopt;
            const int high = hexValue(rest[i + 1]);
            const int low = hexValue(rest[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            const char decoded = static_cast<char>(high * 16 + low);
            if (decoded == '\0') return std::nullopt;
            path.push_back(decoded);
            i += 2;
        } else if (c == '?' || c == '#') {
            break;
        } else {
            path.push_back(c);
        }
    }
    return path;
}

struct ParseState {
    std::unordered_map<std::string, Date> dates;
    std::optional<std::string> currentPath;
    std::optional<Date> currentLatest;
    int bookmarkDepth = 0;
};

void offer(ParseState& state, const char* stamp) {
    if (!stamp) return;
    auto date = Date::parseISO8601(stamp);
    if (!date) return;
    if (!state.currentLatest || *date > *state.currentLatest) state.currentLatest = date;
}

const char* attribute(const XML_Char** attributes, const char* name) {
    for (size_t i = 0; attributes[i]; i += 2) {
        if (std::strcmp(attributes[i], name) == 0) return attributes[i + 1];
    }
    return nullptr;
}

// Element names arrive without namespace processing, so an application entry is
// "bookmark:application" with the usual prefix; match on the local part.
bool localNameIs(const XML_Char* name, const char* local) {
    const char* colon = std::strrchr(name, ':');
    return std::strcmp(colon ? colon + 1 : name, local) == 0;
}

void XMLCALL startElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& state = *static_cast<ParseState*>(data);
    if (std::strcmp(name, "bookmark") == 0) {
        ++state.bookmarkDepth;
        state.currentLatest.reset();
        state.currentPath.reset();
        if (const char* href = attribute(attributes, "href")) state.currentPath = pathFromFileURI(href);
        offer(state, attribute(attributes, "modified"));
        offer(state, attribute(attributes, "visited"));
    } else if (state.bookmarkDepth > 0 && localNameIs(name, "application")) {
        offer(state, attribute(attributes, "modified"));
    }
}

void XMLCALL endElement(void* data, const XML_Char* name) {
    auto& state = *static_cast<ParseState*>(data);
    if (std::strcmp(name, "bookmark") != 0 || state.bookmarkDepth == 0) return;
    --state.bookmarkDepth;
    if (state.currentPath && state.currentLatest) {
        auto [it, inserted] = state.dates.emplace(*state.currentPath, *state.currentLatest);
        if (!inserted && *state.currentLatest > it->second) it->second = *state.currentLatest;
    }
    state.currentPath.reset();
    state.currentLatest.reset();
}

// The entry's path with its parent folder resolved, so an item recorded through a
// linked folder matches the walk, which runs over resolved roots.
std::string canonicalEntryPath(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return path;
    auto parent = PathUtil::canonical(path.substr(0, slash));
    if (!parent) return path;
    return (*parent == "/" ? std::string() : *parent) + path.substr(slash);
}

}  // namespace

std::unordered_map<std::string, Date> parseBookmarks(const std::string& document) {
    ParseState state;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return {};
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, startElement, endElement);
    const bool ok = XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!ok) return {};
    return std::move(state.dates);
}

std::vector<std::string> defaultSources() {
    std::vector<std::string> sources;
    const std::optional<std::string> home = UserFolders::absoluteVariable("HOME");
    if (const auto dataHome = UserFolders::absoluteVariable("XDG_DATA_HOME")) {
        sources.push_back(*dataHome + "/recently-used.xbel");
    } else if (home) {
        sources.push_back(*home + "/.local/share/recently-used.xbel");
    }
    if (home) sources.push_back(*home + "/.recently-used.xbel");
    return sources;
}

std::unordered_map<std::string, Date> lastUsedDates(const std::vector<std::string>& roots) {
    if (roots.empty()) return {};
    return lastUsedDates(roots, defaultSources());
}

std::unordered_map<std::string, Date> lastUsedDates(const std::vector<std::string>& roots,
                                                    const std::vector<std::string>& sources) {
    std::unordered_map<std::string, Date> result;
    if (roots.empty()) return result;

    // Match against each folder as given and as resolved.
    std::vector<std::string> scopes;
    for (const auto& root : roots) {
        scopes.push_back(root);
        if (auto resolved = PathUtil::canonical(root); resolved && *resolved != root) scopes.push_back(*resolved);
    }

    for (const auto& source : sources) {
        std::string document;
        try {
            document = AtomicFile::read(source, maxBookmarkFileBytes);
        } catch (const std::exception&) {
            continue;  // no such file, or not one we can read: no dates from it
        }
        auto entries = parseBookmarks(document);
        if (entries.empty() && !document.empty()) {
            Log::info("scan", "recently used file gave no dates: " + source);
        }
        for (auto& [path, date] : entries) {
            std::string canonical = canonicalEntryPath(path);
            const std::string* forms[] = {&path, &canonical};
            for (const std::string* candidate : forms) {
                bool inScope = false;
                for (const auto& scope : scopes) {
                    if (!scope.empty() && PathUtil::isInside(*candidate, scope)) {
                        inScope = true;
                        break;
                    }
                }
                if (!inScope) continue;
                auto [it, inserted] = result.emplace(*candidate, date);
                if (!inserted && date > it->second) it->second = date;
            }
        }
    }
    return result;
}

}  // namespace keldwick::RecentlyUsed
