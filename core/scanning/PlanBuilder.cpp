#include "scanning/PlanBuilder.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "drives/VolumeInfo.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "foundation/VolumeSpace.h"
#include "scanning/RecentlyUsed.h"

namespace keldwick {

namespace {

// The roots as given, each followed by its resolved form when that differs.
std::vector<std::string> withResolved(const std::vector<std::string>& roots) {
    std::vector<std::string> result;
    std::unordered_set<std::string> seen;
    for (const auto& root : roots) {
        if (seen.insert(root).second) result.push_back(root);
        if (auto real = PathUtil::canonical(root); real && seen.insert(*real).second) result.push_back(*real);
    }
    return result;
}

}  // namespace

PlanBuilder::PlanBuilder(std::vector<std::string> folders_, RuleList rules_, OffloadPolicy policy_,
                         std::shared_ptr<const OpenFileChecking> openFiles_)
    : folders(std::move(folders_)),
      rules(std::move(rules_)),
      policy(std::move(policy_)),
      openFiles(std::move(openFiles_)),
      lastUsedDates([](const std::vector<std::string>& roots) { return RecentlyUsed::lastUsedDates(roots); }),
      availableBytes([](const std::string& path) { return VolumeSpace::availableBytes(path); }),
      storesMetadataNatively([](const std::string& path) { return VolumeInfo::storesMetadataNatively(path); }) {}

std::vector<OpenFileUsage> PlanBuilder::usesUnder(const std::vector<std::string>& roots,
                                                  const OpenFileChecking& checker) {
    const std::vector<std::string> all = withResolved(roots);
    std::vector<OpenFileUsage> kept;
    for (auto& use : checker.usage("/")) {
        bool under = std::any_of(all.begin(), all.end(),
                                 [&](const std::string& root) { return PathUtil::isInside(use.path, root); });
        if (under) kept.push_back(std::move(use));
    }
    return kept;
}

PlanBuilder::Result PlanBuilder::build(int64_t bytesNeeded, const std::string& driveRoot) const {
    auto dates = lastUsedDates ? lastUsedDates(withResolved(folders)) : std::unordered_map<std::string, Date>{};

    std::vector<std::string> roots = folders;
    if (emulatorDevices) roots.push_back(*emulatorDevices);
    std::vector<OpenFileUsage> uses = openFiles ? usesUnder(roots, *openFiles) : std::vector<OpenFileUsage>{};

    OffloadPolicy scanPolicy = policy;
    scanPolicy.driveIsNativeFormat = storesMetadataNatively ? storesMetadataNatively(driveRoot) : true;
    if (!clock) throw std::invalid_argument("a plan needs a clock");
    Scanner scanner(std::move(scanPolicy), rules, std::move(dates), std::move(uses), clock->now());
    scanner.emulatorDevices = emulatorDevices;
    for (const auto& folder : fixedFolders)
        if (auto real = PathUtil::canonical(folder)) scanner.fixedFolders.insert(*real);
    scanner.skippedReportLimit = 2000;
    scanner.threads = threads;
    scanner.cancel = cancel;

    Result result;
    result.report = scanner.scan(folders);

    result.plan = OffloadPlanner().plan(result.report.candidates, bytesNeeded, driveRoom(driveRoot));
    return result;
}

int64_t PlanBuilder::driveRoom(const std::string& driveRoot) const {
    const int64_t available = (availableBytes ? availableBytes(driveRoot) : std::nullopt).value_or(0);
    return std::max<int64_t>(Saturating::subtract(available, driveReserveBytes), 0);
}

int64_t PlanBuilder::movableBytes(const std::string& driveRoot) const {
    return build(std::numeric_limits<int64_t>::max(), driveRoot).plan.totalBytes();
}

}  // namespace keldwick
