#pragma once
// The files, folders and links of a moved item, and the one digest over them that tells
// whether two trees hold the same content.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace keldwick {

// Decoding a stored entry or manifest failed (a missing key, a value of the wrong type,
// an unknown kind).
class TreeManifestDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TreeEntry {
    enum class Kind { file, directory, symlink };

    std::string path;  // relative to the tree's top, components joined by "/"
    Kind kind = Kind::file;
    int64_t size = 0;  // a file's size; folders and links carry 0
    std::optional<std::string> sha256;  // lowercase hex of a file's content
    std::optional<std::string> target;  // a link's target text

    bool operator==(const TreeEntry&) const = default;
};

// "file", "directory", "symlink".
std::string_view toString(TreeEntry::Kind kind);
// Exactly one of the three strings; nothing for any other.
std::optional<TreeEntry::Kind> parseTreeEntryKind(std::string_view text);

struct TreeManifest {
    std::vector<TreeEntry> entries;  // in the order they were produced

    // Equal when the same entries stand in the same order (the digest ignores order).
    bool operator==(const TreeManifest&) const = default;

    // Sum of all entries' sizes.
    int64_t totalSize() const;
    // Number of file entries.
    int64_t fileCount() const;
    // Lowercase hex SHA-256 over the canonical text: entries stably sorted by the NFC
    // form of their path (byte order), one line each of kind NUL path NUL size NUL
    // (sha256, else target, else nothing) LF. Order and normalisation of the paths do
    // not change it.
    std::string digest() const;
    // The exact bytes the digest is taken over.
    std::string canonicalText() const;
};

// JSON: {"path", "kind", "size"} plus "sha256" and "target" only when present; when
// reading, those two may be missing or null and unknown keys are ignored. A manifest is
// {"entries": [...]}. from_json throws TreeManifestDecodingError.
void to_json(nlohmann::json& json, const TreeEntry& entry);
void from_json(const nlohmann::json& json, TreeEntry& entry);
void to_json(nlohmann::json& json, const TreeManifest& manifest);
void from_json(const nlohmann::json& json, TreeManifest& manifest);

}  // namespace keldwick

template <>
struct std::hash<keldwick::TreeEntry> {
    size_t operator()(const keldwick::TreeEntry& entry) const noexcept;
};
