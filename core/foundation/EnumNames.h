#pragma once
// Enumerations whose values are stored or exchanged as text keep one table each of
// {value, "spelling"} pairs, read both ways by these functions, so a value and its
// spelling are written down once. Spellings are part of the files and messages that carry
// them: never change one.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace keldwick::EnumNames {

template <typename Enum>
struct Name {
    Enum value;
    std::string_view spelling;
};

// The value's spelling; `fallback` for a value the table lacks.
template <typename Enum, size_t N>
constexpr std::string_view spellingOf(const Name<Enum> (&names)[N], Enum value, std::string_view fallback = {}) {
    for (const Name<Enum>& name : names) {
        if (name.value == value) return name.spelling;
    }
    return fallback;
}

// The value spelled exactly `text` (bytes compared, case included); nothing for any other text.
template <typename Enum, size_t N>
constexpr std::optional<Enum> valueOf(const Name<Enum> (&names)[N], std::string_view text) {
    for (const Name<Enum>& name : names) {
        if (name.spelling == text) return name.value;
    }
    return std::nullopt;
}

// Every value, in the table's order.
template <typename Enum, size_t N>
std::vector<Enum> values(const Name<Enum> (&names)[N]) {
    std::vector<Enum> all;
    all.reserve(N);
    for (const Name<Enum>& name : names) all.push_back(name.value);
    return all;
}

}  // namespace keldwick::EnumNames
