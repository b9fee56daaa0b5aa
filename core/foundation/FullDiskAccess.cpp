#include "foundation/FullDiskAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "foundation/AtomicFile.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/POSIXFailure.h"

namespace keldwick::FullDiskAccess {

namespace {

std::optional<std::string> userDirsValue(std::string_view text, std::string_view key) {
    std::optional<std::string> found;
    while (!text.empty()) {
        auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.substr(0, key.size()) != key || line.substr(key.size(), 2) != "=\"") continue;
        line.remove_prefix(key.size() + 2);
        std::string value;
        for (size_t i = 0; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            value.push_back(line[i]);
        }
        found = value;
    }
    return found;
}

}  // namespace

std::vector<std::string> probePaths(const std::string& home, std::string_view userDirsText) {
    std::vector<std::string> probes;
    auto add = [&](const std::string& path) {
        if (std::find(probes.begin(), probes.end(), path) == probes.end()) probes.push_back(path);
    };
    const std::string trimmedHome = PathUtil::withoutTrailingSlashes(home);
    for (const char* key : {"XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_DOWNLOAD_DIR", "XDG_MUSIC_DIR",
                            "XDG_PICTURES_DIR", "XDG_VIDEOS_DIR"}) {
        auto value = userDirsValue(userDirsText, key);
        if (!value) continue;
        std::string relative;
        if (value->rfind("$HOME/", 0) == 0) {
            relative = value->substr(6);
        } else if (PathUtil::isInside(*value, trimmedHome) && *value != trimmedHome) {
            relative = value->substr(trimmedHome.size() + (trimmedHome == "/" ? 0 : 1));
        }
        while (!relative.empty() && relative.back() == '/') relative.pop_back();
        if (relative.empty()) continue;  // a folder turned off points at the home itself
        add(PathUtil::join(home, relative));
    }
    for (const char* name : {"Desktop", "Documents", "Downloads"}) add(PathUtil::join(home, name));
    return probes;
}

namespace {

enum class Probe { opened, refused, noneFound };

Probe probe(const std::vector<std::string>& probes, std::optional<std::string>* refused = nullptr) {
    for (const auto& path : probes) {
        if (platform::openDirectory(AT_FDCWD, path)) return Probe::opened;
        if (errno == EACCES || errno == EPERM) {
            if (refused) *refused = path;
            return Probe::refused;
        }
    }
    return Probe::noneFound;
}

std::vector<std::string> homeProbes(const std::string& home) {
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = xdg;
    else
        config = PathUtil::join(home, ".config");
    std::string userDirs;
    try {
        userDirs = AtomicFile::read(PathUtil::join(config, "user-dirs.dirs"), 65536);
    } catch (const POSIXFailure&) {
    }
    return probePaths(home, userDirs);
}

}  // namespace

bool runsConfined() {
    const char* snap = std::getenv("SNAP");
    return ::access("/.flatpak-info", F_OK) == 0 || (snap && snap[0] != '\0');
}

bool isGranted(const std::vector<std::string>& probes, bool confined) {
    switch (probe(probes)) {
        case Probe::opened: return true;
        case Probe::refused: return false;
        case Probe::noneFound: return !confined;
    }
    return false;
}

bool isGranted(const std::string& home) { return isGranted(homeProbes(home), runsConfined()); }

std::optional<std::string> refusedFolder(const std::vector<std::string>& probes) {
    std::optional<std::string> refused;
    probe(probes, &refused);
    return refused;
}

std::optional<std::string> refusedFolder(const std::string& home) { return refusedFolder(homeProbes(home)); }

}  // namespace keldwick::FullDiskAccess
