#include "foundation/HomeAccess.h"

#include <algorithm>
#include <cerrno>

#include "foundation/PathUtil.h"
#include "foundation/XdgUserDirs.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"
#include "platform/ProcessFacts.h"
#include "platform/Statx.h"
#include "platform/Users.h"

namespace keldwick::HomeAccess {

std::vector<std::string> probePaths(const std::string& home, std::string_view userDirsText) {
    std::vector<std::string> probes;
    auto add = [&](const std::string& path) {
        if (std::find(probes.begin(), probes.end(), path) == probes.end()) probes.push_back(path);
    };
    const std::string text(userDirsText);
    for (const char* key : {"XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_DOWNLOAD_DIR", "XDG_MUSIC_DIR",
                            "XDG_PICTURES_DIR", "XDG_VIDEOS_DIR"}) {
        if (auto folder = XdgUserDirs::folder(text, key, home)) add(*folder);
    }
    for (const char* name : {"Desktop", "Documents", "Downloads"}) add(PathUtil::join(home, name));
    return probes;
}

namespace {

enum class Listing { opened, missing, refusedByMode, refused };

// Whether the folder's mode bits, for the class this process falls in (owner, group,
// others), leave out reading. Root reads past them.
bool modeRefuses(const std::string& path) {
    platform::MountStatus status;
    if (platform::statxWithMount(path.c_str(), 0, false, status) != 0) return false;
    const uid_t user = platform::effectiveUserID();
    if (user == 0) return false;
    const unsigned mode = status.record.stx_mode;
    unsigned granted = mode & 07;
    if (status.record.stx_uid == user) {
        granted = (mode >> 6) & 07;
    } else {
        bool member = status.record.stx_gid == platform::effectiveGroupID();
        if (!member) {
            const std::vector<gid_t> groups = platform::supplementaryGroups();
            member = std::find(groups.begin(), groups.end(), status.record.stx_gid) != groups.end();
        }
        if (member) granted = (mode >> 3) & 07;
    }
    return (granted & 04) == 0;
}

Listing list(const std::string& path) {
    if (platform::openDirectory(AT_FDCWD, path)) return Listing::opened;
    if (errno != EACCES && errno != EPERM) return Listing::missing;
    return modeRefuses(path) ? Listing::refusedByMode : Listing::refused;
}

std::vector<std::string> homeProbes(const std::string& home) { return probePaths(home, XdgUserDirs::fileText(home)); }

}  // namespace

bool runsConfined() {
    return platform::mayAccess("/.flatpak-info", 0) || !platform::environmentVariable("SNAP").value_or("").empty();
}

Sandbox sandboxFrom(const std::function<std::optional<std::string>(const char*)>& environment) {
    const auto named = [&](const char* name) { return environment(name).value_or(""); };
    if (const std::string id = named("FLATPAK_ID"); !id.empty()) return {Sandbox::Kind::flatpak, id};
    std::string snap = named("SNAP_INSTANCE_NAME");
    if (snap.empty()) snap = named("SNAP_NAME");
    if (!snap.empty()) return {Sandbox::Kind::snap, snap};
    return {};
}

Sandbox sandbox() { return sandboxFrom([](const char* name) { return platform::environmentVariable(name); }); }

std::optional<std::string> Reading::folderToShow() const {
    if (blockedBy) return blockedBy;
    if (!refusedByMode.empty()) return refusedByMode.front();
    return std::nullopt;
}

Reading read(const std::vector<std::string>& managed, const std::vector<std::string>& standard, bool confined) {
    Reading reading;
    bool found = false;
    const auto block = [&](const std::string& path) {
        reading.granted = false;
        if (!reading.blockedBy) reading.blockedBy = path;
    };
    for (const auto& path : managed) {
        const Listing listing = list(path);
        found = found || listing != Listing::missing;
        if (listing == Listing::refused || listing == Listing::refusedByMode) block(path);
    }
    for (const auto& path : standard) {
        if (std::find(managed.begin(), managed.end(), path) != managed.end()) continue;
        const Listing listing = list(path);
        found = found || listing != Listing::missing;
        if (listing == Listing::refused) block(path);
        if (listing == Listing::refusedByMode) reading.refusedByMode.push_back(path);
    }
    if (confined && !found) reading.granted = false;
    return reading;
}

Reading read(const std::string& home, const std::vector<std::string>& managed) {
    return read(managed, homeProbes(home), runsConfined());
}

}  // namespace keldwick::HomeAccess
