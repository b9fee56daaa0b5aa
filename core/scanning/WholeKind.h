#pragma once
// The kind of a folder that moves as one piece.

#include <optional>
#include <string_view>

namespace keldwick {

enum class WholeKind { project, emulator, chosen };

// "project", "emulator" or "chosen".
std::string_view toString(WholeKind kind);
// The kind whose string is exactly `text`; nothing for any other text.
std::optional<WholeKind> parseWholeKind(std::string_view text);

}  // namespace keldwick
