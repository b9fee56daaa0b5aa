#include "drives/Drive.h"

#include <nlohmann/json.hpp>

namespace keldwick {

void to_json(nlohmann::json& json, const Drive& drive) {
    json = nlohmann::json{{"id", drive.id}, {"name", drive.name}};
}

void from_json(const nlohmann::json& json, Drive& drive) {
    drive.id = json.at("id").get<std::string>();
    drive.name = json.at("name").get<std::string>();
}

}  // namespace keldwick
