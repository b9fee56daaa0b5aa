#include "engine/PlaceGroups.h"

#include <map>
#include <set>

#include "foundation/PathUtil.h"

namespace keldwick {

namespace {

std::string folded(std::string path) {
    for (auto& c : path)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return PathUtil::withoutTrailingSlashes(path);
}

}  // namespace

std::vector<std::vector<size_t>> groupsByPlace(const std::vector<std::string>& places) {
    std::vector<std::string> keys;
    keys.reserve(places.size());
    for (const auto& place : places) keys.push_back(folded(place));
    const std::set<std::string> all(keys.begin(), keys.end());
    std::map<std::string, size_t> groupOf;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string key = keys[i];
        // The outermost place that holds this one.
        for (size_t slash = key.find('/', 1); slash != std::string::npos; slash = key.find('/', slash + 1))
            if (all.contains(key.substr(0, slash))) {
                key.resize(slash);
                break;
            }
        auto [found, added] = groupOf.emplace(key, groups.size());
        if (added) groups.emplace_back();
        groups[found->second].push_back(i);
    }
    return groups;
}

}  // namespace keldwick
