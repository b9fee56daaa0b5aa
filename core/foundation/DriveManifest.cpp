#include "foundation/DriveManifest.h"


#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "foundation/EnumNames.h"
#include "foundation/FileOps.h"
#include "foundation/JsonFields.h"
#include "foundation/PathUtil.h"
#include "platform/FileIO.h"
#include "platform/FileReading.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

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

// Inside the app folder (current or legacy name), not the folder itself.
bool isInsideAppFolder(std::string_view path) {
    const size_t slash = path.find('/');
    if (!PathUtil::isCleanRelative(path) || slash == std::string_view::npos) return false;
    return kAppFolderNames.count(path.substr(0, slash)) > 0;
}

// Opens the app folder itself, never a link standing in its place.
platform::Fd openFolder(const std::string& folder) { return platform::openDirectory(AT_FDCWD, folder, O_NOFOLLOW); }

[[noreturn]] void notAFile(const std::string& path) {
    throw DriveManifestError("The drive's manifest at " + path + " isn't a regular file.");
}


// Real strings are paths (at most 4 KiB), digests and dates; a string or number longer
// than this is damage, and the line holding it is skipped without reading the token in.
constexpr size_t kMaxTokenBytes = size_t(1) << 20;
// Containers inside one another on one line; an entry needs three.
constexpr size_t kMaxNesting = 16;

// The manifest's bytes one line at a time, without holding more than a read buffer: the
// line's end (its line feed, or the end of the input) reads as the end of the input.
// Within a line, a string or bare token longer than kMaxTokenBytes ends the line's input
// early, so a parser fed from here never holds more than that of one token.
class LineSource {
public:
    // The bytes of a file, read through `fd` (not owned).
    LineSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    // Bytes in memory.
    explicit LineSource(std::string_view bytes) : data_(bytes.data()), size_(bytes.size()), atEnd_(true) {}

    // True when no byte is left in the whole input.
    bool exhausted() {
        return !fill();
    }
    // True when the current line has no more bytes to give.
    bool lineDone() {
        if (lineDone_) return true;
        if (!fill() || data_[position_] == '\n' || token_ > kMaxTokenBytes) lineDone_ = true;
        return lineDone_;
    }
    // The current line without its line feed, when all of it is in memory, not one byte
    // of it was read yet, and it is no longer than a token may be (so it parses as it
    // would byte by byte); it is left to read.
    std::optional<std::string_view> wholeLine() {
        if (!fill() || lineDone_ || token_ != 0) return std::nullopt;
        const char* start = data_ + position_;
        const size_t left = size_ - position_;
        std::optional<std::string_view> line;
        if (const void* newline = std::memchr(start, '\n', left))
            line = std::string_view(start, size_t(static_cast<const char*>(newline) - start));
        else if (atEnd_)
            line = std::string_view(start, left);
        if (line && line->size() > kMaxTokenBytes) return std::nullopt;
        return line;
    }
    char peek() const { return data_[position_]; }
    void advance() {
        track(data_[position_]);
        ++position_;
    }
    // Passes over what is left of the current line and its line feed.
    void nextLine() {
        while (fill()) {
            const char* start = data_ + position_;
            const void* newline = std::memchr(start, '\n', size_ - position_);
            if (newline) {
                position_ += static_cast<const char*>(newline) - start + 1;
                break;
            }
            position_ = size_;
        }
        lineDone_ = false;
        inString_ = escaped_ = false;
        token_ = 0;
    }

private:
    bool fill() {
        if (position_ < size_) return true;
        if (atEnd_) return false;
        for (;;) {
            ssize_t n = platform::readSome(fd_, buffer_, sizeof buffer_);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw POSIXFailure("read", path_, errno);
            }
            data_ = buffer_;
            size_ = static_cast<size_t>(n);
            position_ = 0;
            atEnd_ = n == 0;
            return n > 0;
        }
    }
    // The length of the token the byte belongs to (zero between tokens).
    void track(char c) {
        if (inString_) {
            if (escaped_) escaped_ = false;
            else if (c == '\\') escaped_ = true;
            else if (c == '"') inString_ = false;
            ++token_;
            return;
        }
        if (c == '"') {
            inString_ = true;
            token_ = 1;
        } else if (std::strchr(" \t\r{}[],:", c) != nullptr) {
            token_ = 0;
        } else {
            ++token_;
        }
    }

    int fd_ = -1;
    std::string path_;
    char buffer_[65536];
    const char* data_ = buffer_;
    size_t size_ = 0;
    size_t position_ = 0;
    bool atEnd_ = false;
    bool lineDone_ = false;
    bool inString_ = false;
    bool escaped_ = false;
    size_t token_ = 0;
};

// The current line of a LineSource as an input iterator for the JSON parser.
class LineIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    LineIterator() = default;
    explicit LineIterator(LineSource* source) : source_(source) {}
    char operator*() const { return source_->peek(); }
    LineIterator& operator++() {
        source_->advance();
        return *this;
    }
    bool operator==(const LineIterator& other) const { return done() == other.done(); }

private:
    bool done() const { return source_ == nullptr || source_->lineDone(); }
    LineSource* source_ = nullptr;
};

// Builds one line's entry as the parser reads it, keeping only the members an entry has,
// each tree entry decoded as soon as it closes, and refusing, as soon as it shows, a shape
// no entry has: memory stays proportional to what the entry holds, whatever the line.
class EntryBuilder final : public nlohmann::json_sax<nlohmann::json> {
public:
    nlohmann::json members = nlohmann::json::object();  // the scalar members
    std::optional<std::vector<TreeEntry>> tree;         // the "entries" member, when a list

    bool null() override { return scalar(nullptr); }
    bool boolean(bool value) override { return scalar(value); }
    bool number_integer(number_integer_t value) override { return scalar(value); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(value); }
    bool number_float(number_float_t value, const string_t&) override { return scalar(value); }
    bool string(string_t& value) override { return scalar(std::move(value)); }
    bool binary(binary_t&) override { return false; }
    bool key(string_t& name) override {
        if (skipping_ == 0) key_ = std::move(name);
        return true;
    }
    bool start_object(std::size_t) override {
        if (levels_.empty()) return enter(Level::root);
        if (skipping_ > 0 || isUnknownMember()) return skip();
        if (levels_.back() != Level::entries) return false;
        treeEntry_ = nlohmann::json::object();
        return enter(Level::treeEntry);
    }
    bool start_array(std::size_t) override {
        if (levels_.empty()) return false;
        if (skipping_ > 0 || isUnknownMember()) return skip();
        if (levels_.back() != Level::root || key_ != "entries") return false;
        members.erase("entries");
        tree.emplace();
        return enter(Level::entries);
    }
    bool end_object() override {
        if (skipping_ == 0 && levels_.back() == Level::treeEntry) {
            try {
                tree->push_back(treeEntry_.get<TreeEntry>());
            } catch (const std::exception&) {
                return false;
            }
        }
        return leave();
    }
    bool end_array() override { return leave(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Level { root, entries, treeEntry };

    bool isUnknownMember() const {
        static const std::set<std::string, std::less<>> entryKeys{
            "version", "mac", "event", "originalPath", "relativePath", "isDirectory", "size", "checksum", "entries", "date"};
        static const std::set<std::string, std::less<>> treeEntryKeys{"path", "kind", "size", "sha256", "target"};
        if (levels_.back() == Level::root) return entryKeys.count(key_) == 0;
        if (levels_.back() == Level::treeEntry) return treeEntryKeys.count(key_) == 0;
        return false;
    }
    bool scalar(nlohmann::json value) {
        if (levels_.empty()) return false;
        if (skipping_ > 0 || isUnknownMember()) return true;
        switch (levels_.back()) {
            case Level::root:
                if (key_ == "entries") tree.reset();
                members[key_] = std::move(value);
                return true;
            case Level::treeEntry: treeEntry_[key_] = std::move(value); return true;
            case Level::entries: return false;
        }
        return false;
    }
    bool enter(Level level) {
        levels_.push_back(level);
        return levels_.size() <= kMaxNesting;
    }
    bool skip() {
        ++skipping_;
        return levels_.size() + skipping_ <= kMaxNesting;
    }
    bool leave() {
        if (skipping_ > 0) --skipping_;
        else levels_.pop_back();
        return true;
    }

    std::vector<Level> levels_;
    size_t skipping_ = 0;  // containers entered inside a member no entry has
    std::string key_;
    nlohmann::json treeEntry_;
};

std::optional<DriveManifest::Entry> entryFrom(const nlohmann::json& json, std::optional<std::vector<TreeEntry>> tree);

// One line of the source, consumed through its line feed.
std::optional<DriveManifest::Entry> decodeLine(LineSource& source) {
    EntryBuilder builder;
    const auto whole = source.wholeLine();
    const bool parsed = whole ? nlohmann::json::sax_parse(whole->data(), whole->data() + whole->size(), &builder)
                              : nlohmann::json::sax_parse(LineIterator(&source), LineIterator(), &builder);
    source.nextLine();
    if (!parsed) return std::nullopt;
    return entryFrom(builder.members, std::move(builder.tree));
}

}  // namespace

namespace {

constexpr EnumNames::Name<DriveManifest::Entry::Event> kEventNames[] = {
    {DriveManifest::Entry::Event::offloaded, "offloaded"},
    {DriveManifest::Entry::Event::restored, "restored"},
    {DriveManifest::Entry::Event::discarded, "discarded"},
};

}  // namespace

std::string_view toString(DriveManifest::Entry::Event event) {
    return EnumNames::spellingOf(kEventNames, event, "offloaded");
}

std::optional<DriveManifest::Entry::Event> parseDriveManifestEvent(std::string_view text) {
    return EnumNames::valueOf(kEventNames, text);
}

std::string DriveManifest::path() const {
    return firstExistingPath(kFileNames, appFolder);
}

std::string DriveManifest::encode(const Entry& entry) {
    nlohmann::json json;
    json["version"] = entry.version;
    if (entry.machine) json["mac"] = *entry.machine;
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
    if (line.find('\n') != std::string_view::npos) return std::nullopt;
    LineSource source(line);
    return decodeLine(source);
}

namespace {

// The entry of a line's scalar members and its tree; nothing when a member is missing or
// mistyped, or when its paths fail the checks.
std::optional<DriveManifest::Entry> entryFrom(const nlohmann::json& json, std::optional<std::vector<TreeEntry>> tree) {
    using Entry = DriveManifest::Entry;
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
        entry.machine = mac->get<std::string>();
    }
    if (const auto* checksum = optionalField("checksum")) {
        if (!checksum->is_string()) return std::nullopt;
        entry.checksum = checksum->get<std::string>();
    }
    if (optionalField("entries")) return std::nullopt;  // neither a list nor null
    entry.entries = std::move(tree);

    // Recovery joins these paths onto the drive root and the machine: none may lead
    // elsewhere.
    if (!PathUtil::isCleanAbsolute(entry.originalPath) || !isInsideAppFolder(entry.relativePath)) return std::nullopt;
    if (entry.entries) {
        for (const auto& item : *entry.entries) {
            if (!PathUtil::isCleanRelative(item.path)) return std::nullopt;
        }
    }
    return entry;
}

}  // namespace

void DriveManifest::append(const Entry& entry) const { append(std::vector<Entry>{entry}); }

void DriveManifest::append(const std::vector<Entry>& entries) const {
    if (entries.empty()) return;
    std::string lines;
    for (const auto& entry : entries) lines += encode(entry) + "\n";

    const std::string& folder = appFolder;
    struct stat folderStatus {};
    const bool folderIsNew = platform::statusNoFollow(folder, folderStatus) != 0 && errno == ENOENT;
    if (folderIsNew) {
        createDirectory(folder);
        platform::flushFolder(PathUtil::parent(folder));
    }
    platform::Fd dir = openFolder(folder);
    if (dir.get() < 0) throw POSIXFailure("open", folder, errno);

    const std::string path = firstExistingPath(kFileNames, folder);
    const std::string name(nameOf(path));
    const int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    bool created = false;
    platform::FileSystemCalls& calls = platform::calls();
    int fd = calls.openAt(dir.get(), name.c_str(), flags, 0);
    if (fd < 0 && errno == ENOENT) {
        fd = calls.openAt(dir.get(), name.c_str(), flags | O_CREAT | O_EXCL, 0600);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = calls.openAt(dir.get(), name.c_str(), flags, 0);
    }
    if (fd < 0) {
        if (errno == ELOOP) notAFile(path);
        throw POSIXFailure("open", path, errno);
    }
    platform::Fd file(fd);
    struct stat st {};
    if (platform::statusOf(fd, st) != 0) throw POSIXFailure("open", path, errno);
    if (!S_ISREG(st.st_mode)) notAFile(path);

    // Close a line a failed write left unfinished, so it stays a line of its own.
    std::string bytes = std::move(lines);
    off_t end = platform::seekToEnd(fd);
    if (end >= 1) {
        char last = '\n';
        if (platform::readAt(fd, &last, 1, end - 1) == 1 && last != '\n') bytes.insert(bytes.begin(), '\n');
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
    if (created) platform::flushFolderAt(dir.get(), folder);
}

void DriveManifest::forEachEntry(const std::function<void(Entry)>& each) const {
    const std::string& folder = appFolder;
    platform::Fd dir = openFolder(folder);
    if (dir.get() < 0) {
        const int error = errno;
        // A plain file named like the app folder holds no manifest; a link in its place is refused.
        struct stat st {};
        if (error == ENOENT || (error == ENOTDIR && platform::statusNoFollow(folder, st) == 0 && !S_ISLNK(st.st_mode)))
            return;
        throw POSIXFailure("open", folder, error);
    }
    const std::string path = firstExistingPath(kFileNames, folder);
    platform::Fd file = platform::openReadAt(dir.get(), std::string(nameOf(path)).c_str(), O_NOFOLLOW | O_NONBLOCK);
    if (file.get() < 0) {
        if (errno == ENOENT) return;
        if (errno == ELOOP) notAFile(path);
        throw POSIXFailure("open", path, errno);
    }
    struct stat st {};
    if (platform::statusOf(file.get(), st) != 0) throw POSIXFailure("open", path, errno);
    if (!S_ISREG(st.st_mode)) notAFile(path);
    if (st.st_size > kMaxManifestBytes)
        throw DriveManifestError("The drive's manifest at " + path + " is too large to read.");

    LineSource source(file.get(), path);
    while (!source.exhausted()) {
        if (auto entry = decodeLine(source)) each(std::move(*entry));
    }
}

std::vector<DriveManifest::Entry> DriveManifest::read() const {
    std::vector<Entry> entries;
    forEachEntry([&](Entry entry) { entries.push_back(std::move(entry)); });
    return entries;
}

std::vector<DriveManifest::Entry> DriveManifest::latestEntries(const std::string& machineID) const {
    // One pass, keeping per path only the last line with this machine's id and the last
    // without an id: which of them counts is known once every other machine's paths are.
    struct Latest {
        std::optional<Entry> withOurID;
        std::optional<Entry> withoutID;
        bool withoutIDIsLater = false;
    };
    std::map<std::string, Latest> latest;  // ordered by path bytes
    std::set<std::string> otherMachines;
    forEachEntry([&](Entry entry) {
        if (entry.machine && *entry.machine != machineID) {
            otherMachines.insert(entry.originalPath);
            return;
        }
        Latest& slot = latest[entry.originalPath];
        slot.withoutIDIsLater = !entry.machine;
        (entry.machine ? slot.withOurID : slot.withoutID) = std::move(entry);
    });
    std::vector<Entry> result;
    for (auto& [path, slot] : latest) {
        const bool withoutIDCounts = otherMachines.count(path) == 0;
        std::optional<Entry>& chosen =
            withoutIDCounts && slot.withoutID && (slot.withoutIDIsLater || !slot.withOurID) ? slot.withoutID
                                                                                             : slot.withOurID;
        if (chosen && chosen->event == Entry::Event::offloaded) result.push_back(std::move(*chosen));
    }
    return result;
}

}  // namespace keldwick
