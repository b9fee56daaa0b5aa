#include "engine/FaultPoint.h"

#include <array>
#include <utility>

namespace keldwick {

namespace {

constexpr std::array<std::pair<FaultPoint, const char*>, 12> names{{
    {FaultPoint::offloadRecorded, "offloadRecorded"},
    {FaultPoint::offloadMidCopy, "offloadMidCopy"},
    {FaultPoint::offloadCopied, "offloadCopied"},
    {FaultPoint::offloadVerified, "offloadVerified"},
    {FaultPoint::offloadLinkStaged, "offloadLinkStaged"},
    {FaultPoint::offloadSwapped, "offloadSwapped"},
    {FaultPoint::restoreRecorded, "restoreRecorded"},
    {FaultPoint::restoreMidCopy, "restoreMidCopy"},
    {FaultPoint::restoreVerified, "restoreVerified"},
    {FaultPoint::restoreLinkRemoved, "restoreLinkRemoved"},
    {FaultPoint::restoreSwapped, "restoreSwapped"},
    {FaultPoint::restoreDriveCopyDeleted, "restoreDriveCopyDeleted"},
}};

}  // namespace

std::string toString(FaultPoint point) {
    for (const auto& [p, name] : names)
        if (p == point) return name;
    return "";
}

std::optional<FaultPoint> parseFaultPoint(const std::string& raw) {
    for (const auto& [p, name] : names)
        if (raw == name) return p;
    return std::nullopt;
}

namespace FaultPoints {

const std::vector<FaultPoint>& allCases() {
    static const std::vector<FaultPoint> all = [] {
        std::vector<FaultPoint> v;
        for (const auto& entry : names) v.push_back(entry.first);
        return v;
    }();
    return all;
}

const std::vector<FaultPoint>& offloadPoints() {
    static const std::vector<FaultPoint> v(allCases().begin(), allCases().begin() + 6);
    return v;
}

const std::vector<FaultPoint>& restorePoints() {
    static const std::vector<FaultPoint> v(allCases().begin() + 6, allCases().end());
    return v;
}

}  // namespace FaultPoints

}  // namespace keldwick
