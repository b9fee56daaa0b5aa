#pragma once
// Which of many items may be worked on side by side: those whose places neither hold one
// another nor differ only in letter case, as two places do on a drive that ignores case.

#include <cstddef>
#include <string>
#include <vector>

namespace keldwick {

// The indices of `places` (absolute paths) in groups, each in ascending order: one group
// per place, the places inside another (or equal to it but for ASCII letter case) in
// that one's group. Groups come in the order of their first index.
std::vector<std::vector<size_t>> groupsByPlace(const std::vector<std::string>& places);

}  // namespace keldwick
