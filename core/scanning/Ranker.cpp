#include "scanning/Ranker.h"

#include <algorithm>
#include <cmath>

namespace keldwick {

double Ranker::score(int64_t size, Date lastUsed, Date now) {
    double megabytes = static_cast<double>(size) / 1'048'576.0;
    double days = (now.secondsSince1970 - lastUsed.secondsSince1970) / 86'400.0;
    double sizeFactor = std::isnan(megabytes) ? 0 : std::sqrt(std::max(megabytes, 0.0));
    double ageFactor = std::isnan(days) ? 0 : std::max(days, 0.0);
    double result = sizeFactor * ageFactor;
    // 0 * infinity: an item of no size scores nothing however old.
    return std::isnan(result) ? 0 : result;
}

std::vector<Candidate> Ranker::rank(std::vector<Candidate> candidates) const {
    // A NaN score would break the sort's ordering; it ranks as no score at all.
    auto key = [](double score) { return std::isnan(score) ? 0.0 : score; };
    std::stable_sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
        if (a.isRecent != b.isRecent) return !a.isRecent;
        if (key(a.score) != key(b.score)) return key(a.score) > key(b.score);
        if (a.size != b.size) return a.size > b.size;
        return a.path < b.path;
    });
    return candidates;
}

}  // namespace keldwick
