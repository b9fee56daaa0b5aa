#pragma once
// An icon-place service for tests: gives `current` as every item's place and records each
// place put back.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/IconPlacing.h"

namespace keldwick::test {

class IconLog final : public IconPlacing {
public:
    std::optional<IconPlace> current;
    std::vector<std::pair<IconPlace, std::string>> restored;
    std::optional<IconPlace> place(const std::string&) override { return current; }
    void restore(const IconPlace& place, const std::string& path) override { restored.emplace_back(place, path); }
};

}  // namespace keldwick::test
