#include "model/Notice.h"

#include <array>

#include "foundation/UUID.h"

namespace keldwick {

std::string_view toString(NoticeTarget target) {
    switch (target) {
        case NoticeTarget::preview: return "preview";
        case NoticeTarget::suggested: return "suggested";
        case NoticeTarget::offloaded: return "offloaded";
        case NoticeTarget::menu: return "menu";
    }
    return "";
}

std::optional<NoticeTarget> parseNoticeTarget(std::string_view text) {
    for (NoticeTarget target :
         std::array{NoticeTarget::preview, NoticeTarget::suggested, NoticeTarget::offloaded, NoticeTarget::menu}) {
        if (toString(target) == text) return target;
    }
    return std::nullopt;
}

std::string Notice::postingIdentifier() const {
    return identifier ? *identifier : UUID::random();
}

}  // namespace keldwick
