#include "model/ScanRules.h"

#include "model/StatusTexts.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

RuleList scanRules(const ModelState& state) {
    std::vector<std::string> withOlderCopies;
    for (const auto& record : recordsNeedingAttention(state)) withOlderCopies.push_back(record.originalPath);
    const std::vector<std::string> none;
    return NeverTouch::rules(state.home, state.pins, state.recentlyRestored, withOlderCopies,
                             state.isSandboxed ? none : NeverTouch::systemFolders());
}

}  // namespace keldwick
