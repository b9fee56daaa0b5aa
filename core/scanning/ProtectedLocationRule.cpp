#include "scanning/ProtectedLocationRule.h"

#include <algorithm>

#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"
#include "foundation/SystemData.h"
#include "foundation/UserFolders.h"
#include "scanning/NeverTouch.h"

namespace keldwick {

ProtectedLocationRule::ProtectedLocationRule(const std::string& home, const std::vector<std::string>& systemFolders,
                                             bool chosenByHand)
    : emulatorDevices_(AndroidDevices::devicesFolder(home)),
      home_(home),
      dataHome_(home.empty() ? std::string() : UserFolders::dataHome(home)),
      chosenByHand_(chosenByHand) {
    protected_ = {
        {PathUtil::join(home, "Library"), "Inside your Library folder"},
        {PathUtil::join(home, ".Trash"), "In the Trash"},
        {PathUtil::join(home, "Music/Music"), "Managed by the Music app"},
        {PathUtil::join(home, "Music/iTunes"), "Managed by the Music app"},
        {PathUtil::join(home, "Movies/TV"), "Managed by the TV app"},
        {PathUtil::join(home, "Pictures/Photo Booth Library"), "Managed by Photo Booth"},
    };
    for (const auto& [relative, reason] : NeverTouch::linuxProtectedHomeFolders()) {
        protected_.push_back({PathUtil::join(home, relative), reason});
    }
    firstSystemRow_ = protected_.size();
    for (const auto& folder : systemFolders) protected_.push_back({folder, "A system folder"});
    if (!home.empty()) ownFolders_ = {UserFolders::support(home), UserFolders::config(home)};
}

std::optional<std::string> ProtectedLocationRule::protectedReason(const std::string& path) const {
    for (const auto& folder : ownFolders_) {
        if (PathUtil::isInside(path, folder)) return kOwnRecords;
    }
    if (auto reason = rowReason(path)) return reason;
    if (home_.empty() || path == home_ || !PathUtil::isInside(path, home_)) return std::nullopt;
    const size_t start = home_.size() + (home_.back() == '/' ? 0 : 1);
    if (start >= path.size() || path[start] != '.') return std::nullopt;
    if (chosenByHand_ && SystemData::isOpenToChosen(path, home_, dataHome_)) return std::nullopt;
    const std::string entry = path.substr(start, path.find('/', start) - start);
    const auto& credentials = NeverTouch::credentialFolders();
    if (std::find(credentials.begin(), credentials.end(), entry) != credentials.end()) return kHoldsKeys;
    return kHiddenAppData;
}

std::optional<std::string> ProtectedLocationRule::rowReason(const std::string& path) const {
    for (size_t i = 0; i < protected_.size(); ++i) {
        const Row& row = protected_[i];
        if (!PathUtil::isInside(path, row.path)) continue;
        // A system folder that holds the home folder (a home under /var/home, say)
        // protects everything but the home folder itself; otherwise nothing could move.
        if (i >= firstSystemRow_ && !home_.empty() && PathUtil::isInside(home_, row.path) &&
            PathUtil::isInside(path, home_)) {
            continue;
        }
        return row.reason;
    }
    return std::nullopt;
}

std::optional<std::string> ProtectedLocationRule::skipReason(const std::string& path, const FileStat&, bool) const {
    return protectedReason(path);
}

std::optional<std::string> ProtectedLocationRule::skipReasonForAncestorsOf(const std::string& path) const {
    return protectedReason(PathUtil::parent(path));
}

std::optional<std::string> ProtectedLocationRule::skipReasonWhole(const std::string& folder, WholeKind kind) const {
    for (const auto& own : ownFolders_) {
        if (PathUtil::isInside(own, folder) && own != folder) return kHoldsOwnRecords;
    }
    if (kind == WholeKind::emulator && PathUtil::parent(folder) == emulatorDevices_) return std::nullopt;
    return protectedReason(folder);
}

}  // namespace keldwick
