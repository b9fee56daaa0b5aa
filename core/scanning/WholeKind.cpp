#include "scanning/WholeKind.h"

namespace keldwick {

std::string_view toString(WholeKind kind) {
    switch (kind) {
        case WholeKind::project: return "project";
        case WholeKind::emulator: return "emulator";
        case WholeKind::chosen: return "chosen";
    }
    return "chosen";
}

std::optional<WholeKind> parseWholeKind(std::string_view text) {
    if (text == "project") return WholeKind::project;
    if (text == "emulator") return WholeKind::emulator;
    if (text == "chosen") return WholeKind::chosen;
    return std::nullopt;
}

}  // namespace keldwick
