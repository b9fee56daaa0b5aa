#pragma once
// The chosen drive: the id kept in its marker file and the name it had when adopted. A
// drive is found by this id alone, never by its mount path or volume UUID.

#include <functional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace keldwick {

struct Drive {
    std::string id;    // upper-case 36-character UUID text
    std::string name;  // display name recorded at adoption

    bool operator==(const Drive&) const = default;
};

// JSON {"id", "name"}; both required when reading (from_json throws nlohmann's errors on a
// missing key or a wrong type).
void to_json(nlohmann::json& json, const Drive& drive);
void from_json(const nlohmann::json& json, Drive& drive);

}  // namespace keldwick

template <>
struct std::hash<keldwick::Drive> {
    size_t operator()(const keldwick::Drive& drive) const noexcept {
        return std::hash<std::string>{}(drive.id) * 31 + std::hash<std::string>{}(drive.name);
    }
};
