#pragma once
// A notification the program posts, as data: its texts, the window a click opens, and its
// identifier. A notice with a fixed identifier replaces the one still shown under it;
// one without gets a fresh identifier when it is posted, so such notices accumulate.

#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

// What a click on a notice opens. The raw values travel in the notification itself.
enum class NoticeTarget { preview, suggested, offloaded, menu };

// "preview", "suggested", "offloaded", "menu".
std::string_view toString(NoticeTarget target);
// Exactly one of those strings; nothing for any other.
std::optional<NoticeTarget> parseNoticeTarget(std::string_view text);

struct Notice {
    std::string title;
    std::string body;
    NoticeTarget target = NoticeTarget::menu;
    std::optional<std::string> identifier;  // none: a fresh UUID when posted

    // The identifier to post under: the fixed one, else a fresh random UUID.
    std::string postingIdentifier() const;

    bool operator==(const Notice&) const = default;
};

}  // namespace keldwick
