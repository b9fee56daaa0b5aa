#include "foundation/ItemChecks.h"

#include <set>
#include <vector>

#include "foundation/EngineError.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/ContentType.h"
#include "foundation/Utf8.h"
#include "platform/ProcessFacts.h"
#include "platform/Users.h"

namespace keldwick {

namespace {

// The text after the last "." of the last component; a leading dot alone (".app") makes
// a hidden name, not an extension.
std::string extensionOf(std::string_view nameOrPath) {
    std::string name = PathUtil::name(nameOrPath);
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return std::string();
    return name.substr(dot + 1);
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

std::string asciiLowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace

bool isPackageName(std::string_view name) {
    const std::string extension = pathExtension(name);
    if (extension.empty()) return false;
    // Most names are ASCII; spare them the trip through ICU.
    return ContentType::isPackageExtension(isAscii(extension) ? asciiLowercased(extension) : Utf8::lowercased(extension));
}

bool isPackage(const std::string& path) {
    if (!isPackageName(PathUtil::name(path))) return false;
    auto status = FileStat::peek(path);
    return status && status->isDirectory();
}

std::optional<std::string> databaseCompanion(const std::string& path) {
    for (std::string_view suffix : {"-wal", "-shm", "-journal"}) {
        std::string longer = path + std::string(suffix);
        if (FileStat::peek(longer)) return longer;
        if (path.size() > suffix.size() && path.ends_with(suffix)) {
            std::string shorter = path.substr(0, path.size() - suffix.size());
            if (FileStat::peek(shorter)) return shorter;
        }
    }
    return std::nullopt;
}

std::optional<std::string> reasonNotMovable(const FileStat& status, std::string_view name) {
    return reasonNotMovable(status, name, platform::realUserID());
}

std::optional<std::string> reasonNotMovable(const FileStat& status, std::string_view name, uint32_t userID) {
    if (status.ownerID != userID) return "Owned by another user";
    if (status.isLocked()) return "Locked";
    if (status.isDirectory() && Utf8::lowercased(extensionOf(name)) == "app") return "App or app component";
    if (status.isFile() && status.linkCount >= 2) return "Has multiple hard links";
    return std::nullopt;
}

void checkNotInUse(const std::string& path, const OpenFileChecking& openFiles) {
    auto usage = openFiles.usage(path);
    // The kernel names open files by their real paths, so a link on the way to the item
    // (a home under /var/home, a folder linked to another disk) would hide them. The item
    // itself is not followed.
    if (auto folder = PathUtil::canonical(PathUtil::parent(path))) {
        std::string real = PathUtil::join(*folder, PathUtil::name(path));
        if (real != path) {
            auto more = openFiles.usage(real);
            usage.insert(usage.end(), more.begin(), more.end());
        }
    }
    if (usage.empty()) return;
    std::set<std::string> names;
    for (const auto& use : usage)
        names.insert(use.processName.empty() ? "process " + std::to_string(use.pid) : use.processName);
    throw EngineError::inUse(path, std::vector<std::string>(names.begin(), names.end()));
}

std::string itemIdentity(const FileStat& status) {
    return std::to_string(status.device) + ":" + std::to_string(status.inode) + ":" +
           std::to_string(status.creationTime.seconds) + "." + std::to_string(status.creationTime.nanoseconds);
}

bool isLinkToDriveCopy(const std::string& path, const OffloadRecord& record) {
    if (record.driveRelativePath.empty()) return false;
    auto status = FileStat::peek(path);
    if (!status || !status->isSymlink()) return false;
    auto text = readLink(path);
    return text && text->ends_with("/" + record.driveRelativePath);
}

}  // namespace keldwick
