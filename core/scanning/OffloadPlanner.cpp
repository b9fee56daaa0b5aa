#include "scanning/OffloadPlanner.h"

#include <algorithm>
#include <limits>

#include "foundation/Saturating.h"
#include "scanning/Ranker.h"

namespace keldwick {

namespace {

constexpr int64_t minimumCap = 2'000'000'000;

struct Selection {
    int64_t need;
    int64_t taken = 0;
    int64_t space;
    std::vector<Candidate> picked;

    void consider(const Candidate& c) {
        if (taken >= need) return;
        const int64_t remaining = need - taken;
        // 4 x remaining fits an Int64 only up to 2^61 - 1.
        const int64_t cap = remaining > Saturating::max / 4 ? Saturating::max : std::max(4 * remaining, minimumCap);
        if (c.parts.empty() || (c.driveSize <= space && c.size <= cap)) {
            if (c.driveSize <= space) {
                picked.push_back(c);
                taken = Saturating::add(taken, c.size);
                space = Saturating::subtract(space, c.driveSize);
            }
            return;
        }
        for (const Candidate& part : Ranker().rank(c.parts)) consider(part);
    }
};

}  // namespace

int64_t OffloadPlan::totalBytes() const {
    int64_t total = 0;
    for (const auto& c : items) total = Saturating::add(total, c.size);
    return total;
}

int64_t OffloadPlan::fileCount() const {
    int64_t count = 0;
    for (const auto& c : items) count = Saturating::add(count, c.fileCount);
    return count;
}

int64_t OffloadPlan::shortfall() const { return std::max<int64_t>(Saturating::subtract(bytesNeeded, totalBytes()), 0); }

OffloadPlan OffloadPlanner::plan(const std::vector<Candidate>& ranked, int64_t bytesNeeded, int64_t driveRoom) const {
    Selection selection{bytesNeeded, 0, driveRoom, {}};
    for (const Candidate& c : ranked) {
        if (selection.taken >= bytesNeeded) break;
        selection.consider(c);
    }
    return OffloadPlan{std::move(selection.picked), bytesNeeded};
}

}  // namespace keldwick
