#include "foundation/TreeManifest.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "foundation/EnumNames.h"
#include "foundation/Checksum.h"
#include "foundation/Utf8.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<TreeEntry::Kind> kKindNames[] = {
    {TreeEntry::Kind::file, "file"},
    {TreeEntry::Kind::directory, "directory"},
    {TreeEntry::Kind::symlink, "symlink"},
};

}  // namespace

std::string_view toString(TreeEntry::Kind kind) {
    return EnumNames::spellingOf(kKindNames, kind, "file");
}

std::optional<TreeEntry::Kind> parseTreeEntryKind(std::string_view text) {
    return EnumNames::valueOf(kKindNames, text);
}

int64_t TreeManifest::totalSize() const {
    int64_t total = 0;
    // Real trees never come near the limit; saturate rather than wrap if one did.
    for (const auto& entry : entries) {
        if (__builtin_add_overflow(total, entry.size, &total)) {
            total = entry.size > 0 ? INT64_MAX : INT64_MIN;
        }
    }
    return total;
}

int64_t TreeManifest::fileCount() const {
    return std::count_if(entries.begin(), entries.end(),
                         [](const TreeEntry& e) { return e.kind == TreeEntry::Kind::file; });
}

std::string TreeManifest::canonicalText() const {
    struct Keyed {
        std::string key;
        const TreeEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (const auto& entry : entries) keyed.push_back({Utf8::nfc(entry.path), &entry});
    // Byte order of UTF-8 is Unicode scalar order.
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) { return a.key < b.key; });

    std::string text;
    for (const auto& [key, entry] : keyed) {
        text.append(toString(entry->kind));
        text.push_back('\0');
        text.append(key);
        text.push_back('\0');
        text.append(std::to_string(entry->size));
        text.push_back('\0');
        if (entry->sha256) {
            text.append(*entry->sha256);
        } else if (entry->target) {
            text.append(*entry->target);
        }
        text.push_back('\n');
    }
    return text;
}

std::string TreeManifest::digest() const { return Checksum::sha256(canonicalText()); }

void to_json(nlohmann::json& json, const TreeEntry& entry) {
    json = nlohmann::json::object();
    json["path"] = entry.path;
    json["kind"] = toString(entry.kind);
    json["size"] = entry.size;
    if (entry.sha256) json["sha256"] = *entry.sha256;
    if (entry.target) json["target"] = *entry.target;
}

namespace {

const nlohmann::json& required(const nlohmann::json& json, const char* key) {
    auto it = json.find(key);
    if (it == json.end()) throw TreeManifestDecodingError(std::string("\"") + key + "\" is missing");
    return *it;
}

std::optional<std::string> optionalText(const nlohmann::json& json, const char* key) {
    auto it = json.find(key);
    if (it == json.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) throw TreeManifestDecodingError(std::string("tree entry's \"") + key + "\" is not text");
    return it->get<std::string>();
}

}  // namespace

void from_json(const nlohmann::json& json, TreeEntry& entry) {
    if (!json.is_object()) throw TreeManifestDecodingError("tree entry is not an object");
    const auto& path = required(json, "path");
    const auto& kind = required(json, "kind");
    const auto& size = required(json, "size");
    if (!path.is_string()) throw TreeManifestDecodingError("tree entry's \"path\" is not text");
    if (!kind.is_string()) throw TreeManifestDecodingError("tree entry's \"kind\" is not text");
    auto parsedKind = parseTreeEntryKind(kind.get_ref<const std::string&>());
    if (!parsedKind) {
        throw TreeManifestDecodingError("tree entry has unknown kind \"" + kind.get<std::string>() + "\"");
    }
    // Only whole numbers that fit a signed 64-bit size; 1.5 or 2^64 are not sizes.
    const bool fits = size.is_number_integer() &&
                      (size.is_number_unsigned() ? size.get<uint64_t>() <= uint64_t(INT64_MAX) : true);
    if (!fits) throw TreeManifestDecodingError("tree entry's \"size\" is not a 64-bit integer");

    TreeEntry decoded;
    decoded.path = path.get<std::string>();
    decoded.kind = *parsedKind;
    decoded.size = size.get<int64_t>();
    decoded.sha256 = optionalText(json, "sha256");
    decoded.target = optionalText(json, "target");
    entry = std::move(decoded);
}

void to_json(nlohmann::json& json, const TreeManifest& manifest) {
    json = nlohmann::json::object();
    json["entries"] = manifest.entries;
}

void from_json(const nlohmann::json& json, TreeManifest& manifest) {
    if (!json.is_object()) throw TreeManifestDecodingError("tree manifest is not an object");
    const auto& entries = required(json, "entries");
    if (!entries.is_array()) throw TreeManifestDecodingError("tree manifest's \"entries\" is not a list");
    TreeManifest decoded;
    decoded.entries.reserve(entries.size());
    for (const auto& item : entries) decoded.entries.push_back(item.get<TreeEntry>());
    manifest = std::move(decoded);
}

}  // namespace keldwick

size_t std::hash<keldwick::TreeEntry>::operator()(const keldwick::TreeEntry& entry) const noexcept {
    size_t seed = std::hash<std::string>{}(entry.path);
    auto mix = [&seed](size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(static_cast<size_t>(entry.kind));
    mix(std::hash<int64_t>{}(entry.size));
    mix(entry.sha256 ? std::hash<std::string>{}(*entry.sha256) : 0x51);
    mix(entry.target ? std::hash<std::string>{}(*entry.target) : 0x7a);
    return seed;
}
