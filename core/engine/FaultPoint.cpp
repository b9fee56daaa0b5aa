#include "engine/FaultPoint.h"

#include "foundation/EnumNames.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<FaultPoint> names[] = {
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
};

}  // namespace

std::string toString(FaultPoint point) { return std::string(EnumNames::spellingOf(names, point)); }

std::optional<FaultPoint> parseFaultPoint(const std::string& raw) { return EnumNames::valueOf(names, raw); }

namespace FaultPoints {

const std::vector<FaultPoint>& allCases() {
    static const std::vector<FaultPoint> all = EnumNames::values(names);
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
