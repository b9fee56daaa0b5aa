#include "foundation/DriveManifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "drives/DriveLayout.h"
#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/FileStat.h"
#include "foundation/JsonFields.h"
#include "foundation/POSIXFailure.h"
#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

using Event = DriveManifest::Entry::Event;

const char* const currentName = ".keldwick-manifest.jsonl";
const char* const legacyName = ".marrowfen-manifest.jsonl";

bool hasCleanComponents(std::string_view path) {
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('/', start);
        std::string_view part = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

bool isCleanAbsolute(std::string_view path) {
    return path.size() > 1 && path.front() == '/' && hasCleanComponents(path.substr(1));
}

bool isCleanRelative(std::string_view path) { return !path.empty() && path.front() != '/' && hasCleanComponents(path); }

std::optional<Event> parseEvent(const std::string& text) {
    if (text == "offloaded") return Event::offloaded;
    if (text == "restored") return Event::restored;
    if (text == "discarded") return Event::discarded;
    return std::nullopt;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

void writeAll(int fd, const std::string& bytes, const std::string& path) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("write", path, errno);
        }
        done += static_cast<size_t>(n);
    }
}

void flushFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

const char* toString(Event event) {
    switch (event) {
        case Event::offloaded:
            return "offloaded";
        case Event::restored:
            return "restored";
        case Event::discarded:
            return "discarded";
    }
    return "offloaded";
}

std::string DriveManifest::path() const {
    return firstExistingPath({currentName, legacyName}, DriveLayout::appFolder(root));
}

std::string DriveManifest::encode(const Entry& entry) {
    nlohmann::ordered_json object;
    object["version"] = entry.version;
    if (entry.mac) object["mac"] = *entry.mac;
    object["event"] = toString(entry.event);
    object["originalPath"] = entry.originalPath;
    object["relativePath"] = entry.relativePath;
    object["isDirectory"] = entry.isDirectory;
    object["size"] = entry.size;
    if (entry.checksum) object["checksum"] = *entry.checksum;
    if (entry.entries) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& treeEntry : *entry.entries) list.push_back(treeEntry);
        object["entries"] = list;
    }
    object["date"] = entry.date.iso8601();
    // A "/" can only stand inside a string in JSON, so escaping every one is exact.
    std::string compact = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    std::string line;
    line.reserve(compact.size() + compact.size() / 8);
    for (char c : compact) {
        if (c == '/') line += '\\';
        line += c;
    }
    return line;
}

std::optional<DriveManifest::Entry> DriveManifest::decode(const std::string& line) {
    try {
        auto object = nlohmann::json::parse(line);
        if (!object.is_object()) return std::nullopt;
        Entry entry;
        entry.version = JsonFields::int64(JsonFields::required(object, "version"));
        if (auto mac = JsonFields::member(object, "mac"); mac && !mac->is_null()) entry.mac = JsonFields::string(*mac);
        auto event = parseEvent(JsonFields::string(JsonFields::required(object, "event")));
        if (!event) return std::nullopt;
        entry.event = *event;
        entry.originalPath = JsonFields::string(JsonFields::required(object, "originalPath"));
        entry.relativePath = JsonFields::string(JsonFields::required(object, "relativePath"));
        entry.isDirectory = JsonFields::boolean(JsonFields::required(object, "isDirectory"));
        entry.size = JsonFields::int64(JsonFields::required(object, "size"));
        if (auto checksum = JsonFields::member(object, "checksum"); checksum && !checksum->is_null())
            entry.checksum = JsonFields::string(*checksum);
        if (auto entries = JsonFields::member(object, "entries"); entries && !entries->is_null()) {
            if (!entries->is_array()) return std::nullopt;
            std::vector<TreeEntry> list;
            for (const auto& item : *entries) list.push_back(item.get<TreeEntry>());
            entry.entries = std::move(list);
        }
        auto date = Date::parseISO8601(JsonFields::string(JsonFields::required(object, "date")));
        if (!date) return std::nullopt;
        entry.date = *date;

        if (!isCleanAbsolute(entry.originalPath) || !isCleanRelative(entry.relativePath)) return std::nullopt;
        if (entry.entries)
            for (const auto& treeEntry : *entry.entries)
                if (!isCleanRelative(treeEntry.path)) return std::nullopt;
        return entry;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void DriveManifest::append(const Entry& entry) const {
    const std::string folder = DriveLayout::appFolder(root);
    bool newFolder = !FileStat::peek(folder);
    createDirectory(folder);
    if (newFolder) flushFolder(PathUtil::parent(folder));

    std::string line = encode(entry) + "\n";
    const std::string file = path();
    bool newFile = !FileStat::peek(file);
    Descriptor manifest(::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (manifest.fd < 0) throw POSIXFailure("open", file, errno);
    struct stat status {};
    if (::fstat(manifest.fd, &status) != 0) throw POSIXFailure("open", file, errno);
    if (!S_ISREG(status.st_mode)) throw POSIXFailure("open", file, EINVAL);

    // A line cut short by an earlier failure is closed, so it stays a line of its own.
    off_t size = ::lseek(manifest.fd, 0, SEEK_END);
    if (size >= 1) {
        char last = 0;
        if (::pread(manifest.fd, &last, 1, size - 1) == 1 && last != '\n') line.insert(line.begin(), '\n');
    }
    writeAll(manifest.fd, line, file);
    if (::fsync(manifest.fd) != 0) throw POSIXFailure("fsync", file, errno);
    if (newFile) flushFolder(folder);
}

std::vector<DriveManifest::Entry> DriveManifest::read() const {
    const std::string file = path();
    if (!FileStat::read(file)) return {};
    const std::string bytes = AtomicFile::read(file, maximumBytes);
    std::vector<Entry> entries;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        if (end > start)
            if (auto entry = decode(bytes.substr(start, end - start))) entries.push_back(std::move(*entry));
        start = end + 1;
    }
    return entries;
}

std::vector<DriveManifest::Entry> DriveManifest::latestEntries(const std::string& machineID) const {
    const auto all = read();
    std::set<std::string> otherMachines;
    for (const auto& entry : all)
        if (entry.mac && *entry.mac != machineID) otherMachines.insert(entry.originalPath);
    std::map<std::string, const Entry*> latest;
    for (const auto& entry : all) {
        bool mine = entry.mac ? *entry.mac == machineID : !otherMachines.contains(entry.originalPath);
        if (mine) latest[entry.originalPath] = &entry;
    }
    std::vector<Entry> result;
    for (const auto& [originalPath, entry] : latest)
        if (entry->event == Event::offloaded) result.push_back(*entry);
    return result;
}

}  // namespace keldwick
