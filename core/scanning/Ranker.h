#pragma once
// Decides which candidates move first: large items unused for long.

#include <cstdint>
#include <vector>

#include "foundation/Date.h"
#include "scanning/Candidate.h"

namespace keldwick {

struct Ranker {
    // sqrt(max(size in MiB, 0)) * max(days since lastUsed, 0); a NaN factor counts as 0.
    // 100 MiB unused for 10 days scores 100, as does 400 MiB unused for 5 days.
    static double score(int64_t size, Date lastUsed, Date now);

    // A stable order: not recent before recent, then higher score, larger size,
    // smaller path (bytewise), then input order.
    std::vector<Candidate> rank(std::vector<Candidate> candidates) const;
};

}  // namespace keldwick
