#include "drives/DriveMarker.h"

#include <cerrno>
#include <nlohmann/json.hpp>

#include "drives/DriveLayout.h"
#include "foundation/AtomicFile.h"
#include "foundation/FileOps.h"
#include "foundation/JsonFields.h"
#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "foundation/UUID.h"
#include "foundation/Utf8.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

namespace keldwick::DriveMarker {

namespace {

// A marker is a few hundred bytes; anything far larger is not ours.
constexpr size_t kMaxMarkerBytes = 1u << 20;

constexpr std::string_view kReadMe =
    "Keldwick\n"
    "\n"
    "The folders in here hold files Keldwick moved off a computer to free up space. There's one\n"
    "folder per computer, and inside it each file sits in the same folders as on that computer\n"
    "(home > your name > Downloads\u2026).\n"
    "\n"
    "They're ordinary files: you can open them or copy them anytime, with or without the app.\n"
    "On the computer, each one has a link in its old place that opens it while this drive is\n"
    "plugged in.\n"
    "\n"
    "To put everything back on your computer, open Keldwick from the system tray (or its window)\n"
    "and choose Show Files on this drive, then Bring Everything Back.\n";

std::optional<struct stat> status(const std::string& path) {
    struct stat st {};
    if (platform::statusNoFollow(path, st) != 0) return std::nullopt;
    return st;
}

// Whole seconds only: a fraction makes the date, and so the marker, unreadable.
std::optional<Date> parseWholeSecondDate(const std::string& text) {
    if (text.find('.') != std::string::npos) return std::nullopt;
    return Date::parseISO8601(text);
}

void writeReadMe(const std::string& path) {
    try {
        AtomicFile::write(path, kReadMe);
    } catch (const std::exception& error) {
        Log::notice("drive", std::string("Couldn't write the read-me: ") + error.what());
    }
}

// "<marker>.unreadable-20250301T093000Z", with "-2", "-3", … when that name is taken.
std::string asidePath(const std::string& marker, Date now) {
    std::string stamp;
    for (char c : now.iso8601())
        if (c != '-' && c != ':') stamp.push_back(c);
    std::string base = marker + ".unreadable-" + stamp;
    std::string candidate = base;
    for (int n = 2; status(candidate); ++n) candidate = base + "-" + std::to_string(n);
    return candidate;
}

}  // namespace

const std::vector<std::string>& fileNames() {
    static const std::vector<std::string> names{".keldwick-drive.json", ".marrowfen-drive.json"};
    return names;
}

std::string_view readMeText() { return kReadMe; }

std::string encode(const Contents& contents) {
    // nlohmann's object keeps its keys sorted.
    nlohmann::json json{{"version", contents.version},
                        {"id", contents.id},
                        {"name", contents.name},
                        {"created", contents.created.iso8601()}};
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Contents> decode(std::string_view bytes) {
    auto json = nlohmann::json::parse(bytes, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    auto field = [&json](const char* key) -> const nlohmann::json* {
        auto it = json.find(key);
        return it == json.end() ? nullptr : &*it;
    };
    const auto* version = field("version");
    const auto* id = field("id");
    const auto* name = field("name");
    const auto* created = field("created");
    if (!version || !id || !name || !created) return std::nullopt;
    if (!id->is_string() || !name->is_string() || !created->is_string()) return std::nullopt;
    auto versionValue = JsonFields::optionalInt64(*version);
    auto date = parseWholeSecondDate(created->get<std::string>());
    if (!versionValue || !date) return std::nullopt;
    return Contents{*versionValue, id->get<std::string>(), name->get<std::string>(), *date};
}

std::optional<Drive> read(const std::string& root) {
    const std::string folder = DriveLayout::appFolder(root);
    // Through a linked app folder the marker would speak for another place.
    auto folderStatus = status(folder);
    if (!folderStatus || !S_ISDIR(folderStatus->st_mode)) return std::nullopt;
    const std::string path = firstExistingPath(fileNames(), folder);
    std::string bytes;
    try {
        bytes = AtomicFile::read(path, kMaxMarkerBytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    auto contents = decode(bytes);
    if (!contents) return std::nullopt;
    return Drive{contents->id, contents->name};
}

NoRoom::NoRoom(const POSIXFailure& failure)
    : POSIXFailure(failure),
      sentence_("There isn't enough room on the drive for Keldwick's folder. Free some space on it and try again.") {}

namespace {

Drive adoptUnchecked(const std::string& root, const std::string& name, const Clock& clock) {
    const std::string folder = DriveLayout::appFolder(root);
    const std::string readMe = PathUtil::join(folder, kReadMeName);

    if (auto existing = read(root)) {
        if (!status(readMe)) writeReadMe(readMe);
        return *existing;
    }

    auto folderStatus = status(folder);
    if (folderStatus && !S_ISDIR(folderStatus->st_mode)) throw POSIXFailure("mkdir", folder, EEXIST);
    if (!folderStatus) {
        createDirectory(folder);
        platform::flushFolder(PathUtil::parent(folder));
    }
    writeReadMe(readMe);

    // The name is kept as text, so the identity returned is the one the marker holds.
    Contents contents{1, UUID::random(), Utf8::replacingInvalid(name), clock.now()};
    const std::string bytes = encode(contents);
    const std::string marker = firstExistingPath(fileNames(), folder);
    if (status(marker)) {
        const std::string aside = asidePath(marker, contents.created);
        if (platform::calls().renameAt(AT_FDCWD, marker.c_str(), AT_FDCWD, aside.c_str(), 0) != 0) throw POSIXFailure("rename", marker + " → " + aside, errno);
        Log::notice("drive", "Set an unreadable drive marker aside as " + aside);
    }
    AtomicFile::write(marker, bytes);
    return Drive{contents.id, contents.name};
}

}  // namespace

Drive adopt(const std::string& root, const std::string& name, const Clock& clock) {
    try {
        return adoptUnchecked(root, name, clock);
    } catch (const NoRoom&) {
        throw;
    } catch (const POSIXFailure& failure) {
        if (failure.code() == ENOSPC || failure.code() == EDQUOT) throw NoRoom(failure);
        throw;
    }
}

}  // namespace keldwick::DriveMarker
