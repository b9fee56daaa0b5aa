#include "scanning/WholeKind.h"

namespace keldwick {

std::string_view toString(WholeKind kind) {
    switch (kind) {
        case WholeKind::project: return "project";
        case WholeKind::simulator: return "simulator";
        case WholeKind::chosen: return "chosen";
    }
    return "chosen";
}

std::optional<WholeKind> parseWholeKind(std::string_view text) {
    if (text == "project") return WholeKind::project;
    if (text == "simulator") return WholeKind::simulator;
    if (text == "chosen") return WholeKind::chosen;
    return std::nullopt;
}

}  // namespace keldwick
