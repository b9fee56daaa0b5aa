#pragma once
// Stand-ins for the services the engine is handed: files that processes hold open, and
// desktop icon places.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/IconPlacing.h"
#include "foundation/OpenFileChecking.h"
#include "foundation/PathUtil.h"

namespace keldwick::test {

// Processes "holding" the listed paths: reports those that lie under the folder asked about.
class HeldFiles final : public OpenFileChecking {
public:
    std::vector<OpenFileUsage> uses;
    std::vector<OpenFileUsage> usage(const std::string& folder) const override {
        std::vector<OpenFileUsage> found;
        for (const auto& use : uses)
            if (PathUtil::isInside(use.path, folder)) found.push_back(use);
        return found;
    }
};

// Gives `current` as every item's place and records each place put back.
class IconLog final : public IconPlacing {
public:
    std::optional<IconPlace> current;
    std::vector<std::pair<IconPlace, std::string>> restored;
    std::optional<IconPlace> place(const std::string&) override { return current; }
    void restore(const IconPlace& place, const std::string& path) override { restored.emplace_back(place, path); }
};

}  // namespace keldwick::test
