#include "foundation/DriveManifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "drives/DriveLayout.h"
#include "foundation/FileOps.h"
#include "foundation/JsonFields.h"
#include "foundation/POSIXFailure.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"

namespace keldwick {

namespace {

const std::vector<std::string> kFileNames{".keldwick-manifest.jsonl", ".marrowfen-manifest.jsonl"};
const std::set<std::string, std::less<>> kAppFolderNames{"Keldwick", "Marrowfen"};

// Far above any real manifest; a bound on what a hostile drive can make us load.
constexpr int64_t kMaxManifestBytes = int64_t(1) << 30;

std::string_view nameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
}

// A relative path of non-empty components other than "." and "..".
bool hasCleanComponents(std::string_view path, size_t* count = nullptr) {
    if (path.empty() || path.find('\0') != std::string_view::npos) return false;
    size_t components = 0;
    size_t start = 0;
    while (true) {
        size_t slash = path.find('/', start);
        std::string_view piece = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (piece.empty() || piece == "." || piece == "..") return false;
        ++components;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    if (count) *count = components;
    return true;
}

bool isCleanAbsolute(std::string_view path) { return path.size() > 1 && path[0] == '/' && hasCleanComponents(path.substr(1)); }

bool isCleanRelative(std::string_view path) { return !path.empty() && path[0] != '/' && hasCleanComponents(path); }

// Inside the app folder (current or legacy name), not the folder itself.
bool isInsideAppFolder(std::string_view path) {
    size_t components = 0;
    if (path.empty() || path[0] == '/' || !hasCleanComponents(path, &components) || components < 2) return false;
    return kAppFolderNames.count(path.substr(0, path.find('/'))) > 0;
}

// Opens the app folder itself, never a link standing in its place.
int openFolder(const std::string& folder) {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

[[noreturn]] void notAFile(const std::string& path) {
    throw DriveManifestError("The drive's manifest at " + path + " isn't a regular file.");
}

}  // namespace

std::string_view toString(DriveManifest::Entry::Event event) {
    switch (event) {
        case DriveManifest::Entry::Event::offloaded: return "offloaded";
        case DriveManifest::Entry::Event::restored: return "restored";
        case DriveManifest::Entry::Event::discarded: return "discarded";
    }
    return "offloaded";
}

std::optional<DriveManifest::Entry::Event> parseDriveManifestEvent(std::string_view text) {
    using Event = DriveManifest::Entry::Event;
    for (Event event : {Event::offloaded, Event::restored, Event::discarded}) {
        if (toString(event) == text) return event;
    }
    return std::nullopt;
}

std::string DriveManifest::path() const {
    return firstExistingPath(kFileNames, DriveLayout::appFolder(root));
}

std::string DriveManifest::encode(const Entry& entry) {
    nlohmann::json json;
    json["version"] = entry.version;
    if (entry.mac) json["mac"] = *entry.mac;
    json["event"] = std::string(toString(entry.event));
    json["originalPath"] = entry.originalPath;
    json["relativePath"] = entry.relativePath;
    json["isDirectory"] = entry.isDirectory;
    json["size"] = entry.size;
    if (entry.checksum) json["checksum"] = *entry.checksum;
    if (entry.entries) json["entries"] = *entry.entries;
    json["date"] = entry.date.iso8601();
    std::string compact;
    try {
        compact = json.dump();
    } catch (const nlohmann::json::exception&) {
        throw DriveManifestError("Couldn't record " + entry.originalPath + ": its name has characters that can't be recorded.");
    }
    // Outside strings JSON has no "/", so escaping every one is exact.
    std::string line;
    line.reserve(compact.size() + 16);
    for (char c : compact) {
        if (c == '/') line += '\\';
        line += c;
    }
    return line;
}

std::optional<DriveManifest::Entry> DriveManifest::decode(std::string_view line) {
    auto json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    auto field = [&json](const char* key) -> const nlohmann::json* {
        auto it = json.find(key);
        return it == json.end() ? nullptr : &*it;
    };
    auto optionalField = [&field](const char* key) -> const nlohmann::json* {
        const auto* value = field(key);
        return value && !value->is_null() ? value : nullptr;
    };
    const auto *version = field("version"), *event = field("event"), *original = field("originalPath"),
               *relative = field("relativePath"), *isDirectory = field("isDirectory"), *size = field("size"),
               *date = field("date");
    if (!version || !event || !original || !relative || !isDirectory || !size || !date) return std::nullopt;
    if (!event->is_string() || !original->is_string() || !relative->is_string() || !isDirectory->is_boolean() ||
        !date->is_string())
        return std::nullopt;

    Entry entry;
    auto versionValue = JsonFields::optionalInt64(*version);
    auto sizeValue = JsonFields::optionalInt64(*size);
    auto eventValue = parseDriveManifestEvent(event->get_ref<const std::string&>());
    const auto& dateText = date->get_ref<const std::string&>();
    // Whole seconds only, as written.
    auto dateValue = dateText.find('.') == std::string::npos ? Date::parseISO8601(dateText) : std::nullopt;
    if (!versionValue || !sizeValue || !eventValue || !dateValue) return std::nullopt;
    entry.version = *versionValue;
    entry.event = *eventValue;
    entry.originalPath = original->get<std::string>();
    entry.relativePath = relative->get<std::string>();
    entry.isDirectory = isDirectory->get<bool>();
    entry.size = *sizeValue;
    entry.date = *dateValue;
    if (const auto* mac = optionalField("mac")) {
        if (!mac->is_string()) return std::nullopt;
        entry.mac = mac->get<std::string>();
    }
    if (const auto* checksum = optionalField("checksum")) {
        if (!checksum->is_string()) return std::nullopt;
        entry.checksum = checksum->get<std::string>();
    }
    if (const auto* entries = optionalField("entries")) {
        if (!entries->is_array()) return std::nullopt;
        std::vector<TreeEntry> tree;
        tree.reserve(entries->size());
        try {
            for (const auto& item : *entries) tree.push_back(item.get<TreeEntry>());
        } catch (const std::exception&) {
            return std::nullopt;
        }
        entry.entries = std::move(tree);
    }

    // Recovery joins these paths onto the drive root and the machine: none may lead
    // elsewhere.
    if (!isCleanAbsolute(entry.originalPath) || !isInsideAppFolder(entry.relativePath)) return std::nullopt;
    if (entry.entries) {
        for (const auto& item : *entry.entries) {
            if (!isCleanRelative(item.path)) return std::nullopt;
        }
    }
    return entry;
}

void DriveManifest::append(const Entry& entry) const { append(std::vector<Entry>{entry}); }

void DriveManifest::append(const std::vector<Entry>& entries) const {
    if (entries.empty()) return;
    std::string lines;
    for (const auto& entry : entries) lines += encode(entry) + "\n";

    const std::string folder = DriveLayout::appFolder(root);
    struct stat folderStatus {};
    const bool folderIsNew = ::lstat(folder.c_str(), &folderStatus) != 0 && errno == ENOENT;
    if (folderIsNew) {
        createDirectory(folder);
        platform::flushFolderBestEffort(PathUtil::parent(folder));
    }
    platform::Fd dir(openFolder(folder));
    if (dir.get() < 0) throw POSIXFailure("open", folder, errno);

    const std::string path = firstExistingPath(kFileNames, folder);
    const std::string name(nameOf(path));
    const int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    bool created = false;
    platform::FileSystemCalls& calls = platform::calls();
    int fd = calls.openAt(dir.get(), name.c_str(), flags, 0);
    if (fd < 0 && errno == ENOENT) {
        fd = calls.openAt(dir.get(), name.c_str(), flags | O_CREAT | O_EXCL, 0644);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = calls.openAt(dir.get(), name.c_str(), flags, 0);
    }
    if (fd < 0) {
        if (errno == ELOOP) notAFile(path);
        throw POSIXFailure("open", path, errno);
    }
    platform::Fd file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw POSIXFailure("open", path, errno);
    if (!S_ISREG(st.st_mode)) notAFile(path);

    // Close a line a failed write left unfinished, so it stays a line of its own.
    std::string bytes = std::move(lines);
    off_t end = ::lseek(fd, 0, SEEK_END);
    if (end >= 1) {
        char last = '\n';
        if (::pread(fd, &last, 1, end - 1) == 1 && last != '\n') bytes.insert(bytes.begin(), '\n');
    }
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = calls.write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("write", path, errno);
        }
        written += static_cast<size_t>(n);
    }
    platform::flushFile(fd, path);
    if (created) calls.fsync(dir.get());
}

std::vector<DriveManifest::Entry> DriveManifest::read() const {
    const std::string folder = DriveLayout::appFolder(root);
    platform::Fd dir(openFolder(folder));
    if (dir.get() < 0) {
        const int error = errno;
        // A plain file named like the app folder holds no manifest; a link in its place is refused.
        struct stat st {};
        if (error == ENOENT || (error == ENOTDIR && ::lstat(folder.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)))
            return {};
        throw POSIXFailure("open", folder, error);
    }
    const std::string path = firstExistingPath(kFileNames, folder);
    platform::Fd file(::openat(dir.get(), std::string(nameOf(path)).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) return {};
        if (errno == ELOOP) notAFile(path);
        throw POSIXFailure("open", path, errno);
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) throw POSIXFailure("open", path, errno);
    if (!S_ISREG(st.st_mode)) notAFile(path);
    if (st.st_size > kMaxManifestBytes)
        throw DriveManifestError("The drive's manifest at " + path + " is too large to read.");

    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("read", path, errno);
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxManifestBytes))
            throw DriveManifestError("The drive's manifest at " + path + " is too large to read.");
        bytes.append(buffer, static_cast<size_t>(n));
    }

    std::vector<Entry> entries;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        auto newline = rest.find('\n');
        std::string_view piece = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        if (piece.empty()) continue;
        if (auto entry = decode(piece)) entries.push_back(std::move(*entry));
    }
    return entries;
}

std::vector<DriveManifest::Entry> DriveManifest::latestEntries(const std::string& machineID) const {
    std::vector<Entry> all = read();
    std::set<std::string> otherMachines;
    for (const auto& entry : all) {
        if (entry.mac && *entry.mac != machineID) otherMachines.insert(entry.originalPath);
    }
    std::map<std::string, Entry> latest;  // ordered by path bytes
    for (auto& entry : all) {
        bool ours = entry.mac ? *entry.mac == machineID : otherMachines.count(entry.originalPath) == 0;
        if (ours) latest.insert_or_assign(entry.originalPath, std::move(entry));
    }
    std::vector<Entry> result;
    for (auto& [path, entry] : latest) {
        if (entry.event == Entry::Event::offloaded) result.push_back(std::move(entry));
    }
    return result;
}

}  // namespace keldwick
