#pragma once
// A tiny binary property-list writer, so the readers are tested against bytes made
// independently of the library that parses them, including bytes no real writer makes.

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace keldwick::test::BinaryPlist {

inline std::string bigEndian(uint64_t value, int width) {
    std::string out;
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift);
    return out;
}

// A marker with its length, the length spilling into an integer object when long.
inline std::string marker(unsigned type, uint64_t length) {
    if (length < 15) return std::string(1, static_cast<char>(type | length));
    return std::string(1, static_cast<char>(type | 0x0F)) + '\x13' + bigEndian(length, 8);
}

inline std::string ascii(const std::string& text) { return marker(0x50, text.size()) + text; }

inline std::string utf16(const std::u16string& text) {
    std::string out = marker(0x60, text.size());
    for (char16_t unit : text) out += bigEndian(unit, 2);
    return out;
}

// Objects in order, the first one the top; references and offsets 4 bytes wide.
inline std::string assemble(const std::vector<std::string>& objects, uint64_t top = 0) {
    std::string out = "bplist00";
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const uint64_t table = out.size();
    for (uint64_t offset : offsets) out += bigEndian(offset, 4);
    out += std::string(6, '\0') + '\x04' + '\x04' + bigEndian(objects.size(), 8) + bigEndian(top, 8) +
           bigEndian(table, 8);
    return out;
}

// An array (0xA0) or dictionary (0xD0, keys then values) of references.
inline std::string container(unsigned type, const std::vector<uint64_t>& references) {
    std::string out = marker(type, type == 0xD0 ? references.size() / 2 : references.size());
    for (uint64_t reference : references) out += bigEndian(reference, 4);
    return out;
}

// `depth` arrays inside one another.
inline std::string nestedArrays(size_t depth) {
    std::vector<std::string> objects;
    for (size_t i = 0; i + 1 < depth; ++i) objects.push_back(container(0xA0, {i + 1}));
    objects.push_back(container(0xA0, {}));
    return assemble(objects);
}

using Value = std::variant<std::string, std::u16string, uint8_t, bool, double>;  // uint8_t: integer, double: date

inline std::string dictionary(const std::vector<std::pair<std::string, Value>>& entries) {
    std::vector<std::string> objects;
    std::vector<uint64_t> references;
    for (size_t i = 0; i < 2 * entries.size(); ++i) references.push_back(1 + i);
    objects.push_back(container(0xD0, references));
    for (const auto& entry : entries) objects.push_back(ascii(entry.first));
    for (const auto& entry : entries) {
        const Value& value = entry.second;
        if (auto s = std::get_if<std::string>(&value)) objects.push_back(ascii(*s));
        else if (auto u = std::get_if<std::u16string>(&value)) objects.push_back(utf16(*u));
        else if (auto n = std::get_if<uint8_t>(&value)) objects.push_back(std::string("\x10") + static_cast<char>(*n));
        else if (auto b = std::get_if<bool>(&value)) objects.push_back(std::string(1, *b ? '\x09' : '\x08'));
        else {
            double d = std::get<double>(value);
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            objects.push_back("\x33" + bigEndian(bits, 8));
        }
    }
    return assemble(objects);
}

}  // namespace keldwick::test::BinaryPlist
