#include "scanning/NeverTouch.h"

#include <algorithm>

#include "foundation/PathUtil.h"
#include "foundation/XdgUserDirs.h"
#include "scanning/AppAndLibraryRule.h"
#include "scanning/CloudSyncRule.h"
#include "scanning/DevelopmentRule.h"
#include "scanning/OlderCopyRule.h"
#include "scanning/PinnedRule.h"
#include "scanning/ProtectedLocationRule.h"

namespace keldwick::NeverTouch {

const std::vector<std::string>& linuxSystemFolders() {
    // /media, /mnt and /run (which holds /run/media) are where drives mount: a managed
    // folder that resolves onto the drive must not be scanned as if it were local.
    static const std::vector<std::string> folders = {
        "/etc", "/var", "/lib", "/lib32", "/lib64", "/libx32", "/boot", "/dev",
        "/proc", "/sys", "/run", "/srv", "/snap", "/media", "/mnt", "/tmp",
    };
    return folders;
}

const std::vector<std::string>& systemFolders() {
    static const std::vector<std::string> folders = [] {
        std::vector<std::string> list = {"/System", "/Library", "/Applications", "/usr",  "/bin",
                                         "/sbin",   "/opt",     "/private",      "/cores", "/Volumes"};
        list.insert(list.end(), linuxSystemFolders().begin(), linuxSystemFolders().end());
        return list;
    }();
    return folders;
}

const std::vector<std::string>& credentialFolders() {
    static const std::vector<std::string> names = {".ssh", ".gnupg", ".password-store", ".aws",
                                                   ".azure", ".kube", ".docker", ".netrc"};
    return names;
}

const std::vector<std::pair<std::string, std::string>>& linuxProtectedHomeFolders() {
    static const std::vector<std::pair<std::string, std::string>> rows = {
        {".local/share/Trash", "In the Trash"},
        // Snap and Flatpak apps' data: confinement would not follow a link onto the drive.
        {"snap", "Managed by Snap"},
        {".var/app", "Managed by Flatpak"},
    };
    return rows;
}

const std::vector<std::string>& linuxStandardFolderNames() {
    static const std::vector<std::string> names = {"Videos", "Templates"};
    return names;
}

const std::vector<std::string>& linuxAppExtensions() {
    static const std::vector<std::string> extensions = {"appimage"};
    return extensions;
}

std::vector<std::string> standardFolders(const std::string& home) {
    std::vector<std::string> folders;
    for (const char* name : {"Desktop", "Documents", "Downloads", "Movies", "Music", "Pictures", "Public",
                             "Applications", "Sites", "Library"}) {
        folders.push_back(PathUtil::join(home, name));
    }
    for (const auto& name : linuxStandardFolderNames()) folders.push_back(PathUtil::join(home, name));
    for (auto& folder : XdgUserDirs::read(home)) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(std::move(folder));
    }
    return folders;
}

std::optional<std::string> protectedFolderReason(const std::string& home, const std::string& path) {
    return ProtectedFolders(home).reason(path);
}

ProtectedFolders::ProtectedFolders(const std::string& home)
    : locations_(std::make_shared<ProtectedLocationRule>(home, systemFolders(), false)) {
    for (const auto& name : credentialFolders()) credentials_.push_back(PathUtil::join(home, name));
}

std::optional<std::string> ProtectedFolders::reason(const std::string& path) const {
    if (auto reason = locations_->protectedReason(path)) return reason;
    for (const auto& folder : credentials_)
        if (PathUtil::isInside(path, folder)) return ProtectedLocationRule::kHoldsKeys;
    return std::nullopt;
}

namespace {

std::shared_ptr<const ScanRule> keptOnThisComputer(const std::vector<std::string>& pinned) {
    return std::make_shared<PinnedRule>(pinned, "Kept on this computer", "Inside a folder kept on this computer",
                                        "Holds something kept on this computer");
}

}  // namespace

RuleList rules(const std::string& home, const std::vector<std::string>& pinned,
               const std::vector<std::string>& recentlyRestored, const std::vector<std::string>& withOlderCopies,
               const std::vector<std::string>& systemFolders) {
    return {
        std::make_shared<ProtectedLocationRule>(home, systemFolders, false),
        std::make_shared<DevelopmentRule>(false, home),
        std::make_shared<AppAndLibraryRule>(),
        std::make_shared<CloudSyncRule>(),
        keptOnThisComputer(pinned),
        std::make_shared<PinnedRule>(recentlyRestored, "Brought back recently", "Inside a folder brought back recently",
                                     "Holds something brought back recently"),
        std::make_shared<OlderCopyRule>(withOlderCopies),
    };
}

RuleList rulesForChosen(const std::string& home, const std::vector<std::string>& pinned,
                        const std::vector<std::string>& withOlderCopies, const std::vector<std::string>& systemFolders) {
    std::vector<std::string> credentials;
    for (const auto& name : credentialFolders()) credentials.push_back(PathUtil::join(home, name));
    const std::string keys = ProtectedLocationRule::kHoldsKeys;
    return {
        std::make_shared<ProtectedLocationRule>(home, systemFolders, true),
        std::make_shared<DevelopmentRule>(true, home),
        std::make_shared<AppAndLibraryRule>(),
        std::make_shared<CloudSyncRule>(),
        keptOnThisComputer(pinned),
        std::make_shared<OlderCopyRule>(withOlderCopies),
        std::make_shared<PinnedRule>(credentials, keys, keys, keys),
    };
}

}  // namespace keldwick::NeverTouch
