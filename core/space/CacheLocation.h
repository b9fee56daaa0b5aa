#pragma once
// One place where tools and apps keep caches they rebuild or download again by
// themselves, with the entries that must stay and what clearing it would free.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace keldwick {

struct CacheLocation {
    std::string name;                         // label shown to the user
    std::string note;                         // one line on what clearing it costs
    std::vector<std::string> folders;         // absolute folder paths, in table order
    std::set<std::string> keeping;            // entry names directly inside a folder never removed
    std::vector<std::string> keepingPrefixes; // entry names beginning with one of these are never removed
    bool selectedByDefault = true;
    int64_t size = 0;                         // bytes clearing would free, as last measured

    bool operator==(const CacheLocation&) const = default;
};

}  // namespace keldwick
