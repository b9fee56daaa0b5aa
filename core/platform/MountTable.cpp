#include "platform/MountTable.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace keldwick::platform {

namespace {

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        out.push_back(line.substr(start, i - start));
    }
    return out;
}

template <typename T>
bool number(std::string_view text, T& value) {
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool hasListItem(std::string_view list, std::string_view name) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string_view item = list.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                      : comma - start);
        if (item == name) return true;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return false;
}

std::optional<MountEntry> parseLine(std::string_view line) {
    auto parts = fields(line);
    // At least the 6 fixed fields, the separator, the type and the source.
    if (parts.size() < 9) return std::nullopt;
    // Optional fields ("shared:1 master:2") run up to the lone "-"; type and source follow it.
    size_t separator = 6;
    while (separator < parts.size() && parts[separator] != "-") ++separator;
    if (separator + 2 >= parts.size()) return std::nullopt;

    MountEntry entry;
    if (!number(parts[0], entry.mountId) || !number(parts[1], entry.parentId)) return std::nullopt;
    auto colon = parts[2].find(':');
    if (colon == std::string_view::npos || !number(parts[2].substr(0, colon), entry.major) ||
        !number(parts[2].substr(colon + 1), entry.minor)) {
        return std::nullopt;
    }
    entry.root = MountTable::unescape(parts[3]);
    entry.mountPoint = MountTable::unescape(parts[4]);
    entry.mountOptions = std::string(parts[5]);
    entry.fsType = MountTable::unescape(parts[separator + 1]);
    entry.source = MountTable::unescape(parts[separator + 2]);
    if (separator + 3 < parts.size()) entry.superOptions = std::string(parts[separator + 3]);
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/') return std::nullopt;
    return entry;
}

}  // namespace

bool MountEntry::hasOption(std::string_view name) const {
    return hasListItem(mountOptions, name) || hasListItem(superOptions, name);
}

std::optional<std::string> MountEntry::superOptionValue(std::string_view name) const {
    std::string_view list = superOptions;
    std::optional<std::string> found;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string_view item = list.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                      : comma - start);
        // The last one given is the one in force.
        if (item.size() > name.size() && item.compare(0, name.size(), name) == 0 && item[name.size()] == '=') {
            found = std::string(item.substr(name.size() + 1));
        }
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return found;
}

namespace MountTable {

std::string unescape(std::string_view field) {
    auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value < 256) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<MountEntry> parse(std::string_view text) {
    std::vector<MountEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        if (auto entry = parseLine(text.substr(start, end - start))) entries.push_back(std::move(*entry));
        start = end + 1;
    }
    return entries;
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<MountEntry> read(const std::string& path) {
    auto text = readText(path);
    return text ? parse(*text) : std::vector<MountEntry>{};
}

const MountEntry* rootEntry(const std::vector<MountEntry>& table) {
    const MountEntry* found = nullptr;
    for (const auto& entry : table) {
        if (entry.mountPoint == "/") found = &entry;
    }
    return found;
}

}  // namespace MountTable

}  // namespace keldwick::platform
