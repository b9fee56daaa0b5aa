#include "model/Notice.h"

#include <array>

#include "foundation/EnumNames.h"
#include "foundation/UUID.h"

namespace keldwick {

namespace {

constexpr EnumNames::Name<NoticeTarget> kTargetNames[] = {
    {NoticeTarget::preview, "preview"},
    {NoticeTarget::suggested, "suggested"},
    {NoticeTarget::offloaded, "offloaded"},
    {NoticeTarget::menu, "menu"},
};

}  // namespace

std::string_view toString(NoticeTarget target) {
    return EnumNames::spellingOf(kTargetNames, target);
}

std::optional<NoticeTarget> parseNoticeTarget(std::string_view text) {
    return EnumNames::valueOf(kTargetNames, text);
}

std::string Notice::postingIdentifier() const {
    return identifier ? *identifier : UUID::random();
}

}  // namespace keldwick
