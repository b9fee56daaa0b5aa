#include "scanning/Scanner.h"

#include "foundation/FileStat.h"
#include "scanning/ScanWalk.h"

namespace keldwick {

Scanner::Scanner(OffloadPolicy policy, RuleList rules, std::unordered_map<std::string, Date> lastUsedDates,
                 std::vector<OpenFileUsage> inUse, Date now)
    : policy(std::move(policy)),
      rules(std::move(rules)),
      lastUsedDates(std::move(lastUsedDates)),
      inUse(std::move(inUse)),
      now(now) {}

ScanReport Scanner::scan(const std::vector<std::string>& roots) const { return ScanWalk::Walk(*this).run(roots); }

std::optional<std::string> Scanner::reasonToSkip(const std::string& managedFolder) const {
    return reasonToSkip(managedFolder, rules);
}

std::optional<std::string> Scanner::reasonToSkip(const std::string& managedFolder, const RuleList& rules) {
    auto status = FileStat::peek(managedFolder);
    if (!status) return "Folder not found";
    for (const auto& rule : rules) {
        if (auto reason = rule->skipReasonForAncestorsOf(managedFolder)) return reason;
        if (auto reason = rule->skipReason(managedFolder, *status, false)) return reason;
    }
    return std::nullopt;
}

}  // namespace keldwick
