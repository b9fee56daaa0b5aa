#pragma once
// Property lists that other programs write (a simulator's device description, a device
// backup's Info.plist), in XML or binary form, read from folders anyone may have shaped.
// The parser follows arrays and dictionaries by recursion and copies a binary list's
// shared objects once per reference, so a list is refused before parsing when it is
// larger than any real one, nests too deeply or expands too far.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Date.h"

namespace keldwick::PropertyList {

// Real lists of these kinds are a few kilobytes.
inline constexpr size_t kMaxBytes = size_t(1) << 20;
// Elements (XML) or containers (binary) inside one another, the root counting as one.
inline constexpr size_t kMaxDepth = 64;
// Nodes a binary list may expand to once shared objects are copied.
inline constexpr uint64_t kMaxNodes = uint64_t(1) << 20;

struct Free {
    void operator()(void* node) const;
};
using Node = std::unique_ptr<void, Free>;  // owns a plist_t

// False when the bytes exceed kMaxBytes, nest deeper than kMaxDepth, or (binary) hold a
// cycle, a reference or length outside the bytes, or a tree of more than kMaxNodes.
bool isWithinBounds(std::string_view bytes);

// The root dictionary; nothing when the bytes are out of bounds, not a property list, or
// their root is not a dictionary.
Node parseDictionary(std::string_view bytes);

// parseDictionary of the regular file at `path`, opened without following a final link
// and without blocking; nothing when it can't be read.
Node readDictionary(const std::string& path);

// The dictionary's string under `key`, read by pointer and length; nothing when absent,
// of another type or holding U+0000 (which the library can't hand out as a C string).
std::optional<std::string> stringValue(const Node& dictionary, const char* key);
// The dictionary's date under `key`; nothing when absent or of another type.
std::optional<Date> dateValue(const Node& dictionary, const char* key);

}  // namespace keldwick::PropertyList
