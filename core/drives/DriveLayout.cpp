#include "drives/DriveLayout.h"

#include "drives/DriveMarker.h"
#include "foundation/DriveManifest.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/UUID.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"

namespace keldwick {

namespace {

constexpr std::string_view kCurrentFolder = "Keldwick";
constexpr std::string_view kLegacyFolder = "Marrowfen";

bool exists(const std::string& path) {
    struct stat st {};
    return platform::statusNoFollow(path, st) == 0;
}

}  // namespace

namespace DriveLayout {

std::string folderName() { return std::string(kCurrentFolder); }

std::string folderName(const std::string& root) {
    if (exists(PathUtil::join(root, kCurrentFolder))) return std::string(kCurrentFolder);
    const std::string legacy = PathUtil::join(root, kLegacyFolder);
    if (exists(firstExistingPath(DriveMarker::fileNames(), legacy))) return std::string(kLegacyFolder);
    return std::string(kCurrentFolder);
}

std::string appFolder(const std::string& root) { return PathUtil::join(root, folderName(root)); }

bool holdsRecords(const std::string& root, const std::string& machineID, const std::string& machineFolder) {
    const std::string app = appFolder(root);
    try {
        for (const auto& entry : DriveManifest(app).read()) {
            if (!entry.machine || *entry.machine == machineID) return true;
        }
    } catch (const std::exception&) {
        // A manifest that can't be read lists nothing; the copies may still be there.
    }
    if (machineFolder.empty()) return false;
    platform::Fd folder = platform::openDirectory(AT_FDCWD, app, O_NOFOLLOW);
    if (!folder) return false;
    platform::Fd own = platform::openDirectory(folder.get(), machineFolder, O_NOFOLLOW);
    if (!own) return false;
    try {
        return !platform::readNames(std::move(own), PathUtil::join(app, machineFolder)).empty();
    } catch (const std::exception&) {
        return false;
    }
}

std::string relativePath(const std::string& original, const std::string& machine, const std::string& folder) {
    return folder + "/" + machine + original;
}

}  // namespace DriveLayout

std::string uniqueRelativePath(const std::string& wanted, bool isFolder,
                               const std::function<bool(const std::string& lowercased)>& isTaken,
                               const std::string& root) {
    const std::string name = PathUtil::name(wanted);
    const std::string parent = PathUtil::parent(wanted);
    std::string stem = name;
    std::string extension;
    if (!isFolder) {
        auto dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
            extension = name.substr(dot + 1);
            stem = name.substr(0, dot);
        }
    }
    for (int n = 2; n <= 9999; ++n) {
        std::string candidateName = stem + " " + std::to_string(n);
        if (!extension.empty()) candidateName += "." + extension;
        std::string candidate = PathUtil::join(parent, candidateName);
        if (isTaken(Utf8::lowercased(candidate))) continue;
        if (exists(PathUtil::join(root, candidate))) continue;
        return candidate;
    }
    return PathUtil::join(parent, stem + " " + UUID::random());
}

}  // namespace keldwick
