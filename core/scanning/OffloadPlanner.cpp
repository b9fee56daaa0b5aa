#include "scanning/OffloadPlanner.h"

#include <algorithm>
#include <limits>

#include "scanning/Ranker.h"

namespace keldwick {

namespace {

constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t int64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t minimumCap = 2'000'000'000;

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? int64Max : int64Min;
    return r;
}

int64_t saturatingSubtract(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? int64Max : int64Min;
    return r;
}

struct Selection {
    int64_t need;
    int64_t taken = 0;
    int64_t space;
    std::vector<Candidate> picked;

    void consider(const Candidate& c) {
        if (taken >= need) return;
        const int64_t remaining = need - taken;
        // 4 x remaining fits an Int64 only up to 2^61 - 1.
        const int64_t cap = remaining > int64Max / 4 ? int64Max : std::max(4 * remaining, minimumCap);
        if (c.parts.empty() || (c.driveSize <= space && c.size <= cap)) {
            if (c.driveSize <= space) {
                picked.push_back(c);
                taken = saturatingAdd(taken, c.size);
                space = saturatingSubtract(space, c.driveSize);
            }
            return;
        }
        for (const Candidate& part : Ranker().rank(c.parts)) consider(part);
    }
};

}  // namespace

int64_t OffloadPlan::totalBytes() const {
    int64_t total = 0;
    for (const auto& c : items) total = saturatingAdd(total, c.size);
    return total;
}

int64_t OffloadPlan::fileCount() const {
    int64_t count = 0;
    for (const auto& c : items) count = saturatingAdd(count, c.fileCount);
    return count;
}

int64_t OffloadPlan::shortfall() const { return std::max<int64_t>(saturatingSubtract(bytesNeeded, totalBytes()), 0); }

int64_t OffloadPlanner::bytesNeeded(int64_t freeBytes, int64_t target) {
    return std::max<int64_t>(saturatingSubtract(target, freeBytes), 0);
}

OffloadPlan OffloadPlanner::plan(const std::vector<Candidate>& ranked, int64_t bytesNeeded, int64_t driveRoom) const {
    Selection selection{bytesNeeded, 0, driveRoom, {}};
    for (const Candidate& c : ranked) {
        if (selection.taken >= bytesNeeded) break;
        selection.consider(c);
    }
    return OffloadPlan{std::move(selection.picked), bytesNeeded};
}

}  // namespace keldwick
