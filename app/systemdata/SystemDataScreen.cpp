#include "systemdata/SystemDataScreen.h"

#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "model/StatusTexts.h"
#include "ui/RelativeDate.h"

namespace keldwick {

namespace {

std::string quotedName(const std::string& name) { return "\u201C" + name + "\u201D"; }

}  // namespace

int64_t chosenBytes(const SystemDataState& view) {
    if (!view.caches) return 0;
    int64_t total = 0;
    for (const CacheLocation& location : *view.caches) {
        if (view.chosen.count(location.name)) total = Saturating::add(total, location.size);
    }
    return total;
}

bool canMove(const ModelState& state, const SystemDataState& view) {
    return state.settings.onboardingComplete && state.driveRoot && state.activity == Activity::idle &&
           !view.working;
}

std::string movableSymbol(MovableData::Kind kind) {
    switch (kind) {
        case MovableData::Kind::appFiles: return "application";
        case MovableData::Kind::emulator: return "phone-basic";
        case MovableData::Kind::models: return "brain";
    }
    return "application";
}

std::string movableSubtitle(const MovableData& item, Date now) {
    if (item.openIn) return "Open in " + *item.openIn;
    std::vector<std::string> parts;
    std::optional<std::string> relative;
    if (item.lastUsed) relative = relativeDateText(*item.lastUsed, now);
    auto changed = [&](const char* kind) {
        parts.push_back(kind);
        if (relative) parts.push_back("changed " + *relative);
    };
    switch (item.kind) {
        case MovableData::Kind::appFiles: changed("App files"); break;
        case MovableData::Kind::emulator: changed("Android emulator"); break;
        case MovableData::Kind::models: changed("AI models"); break;
    }
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += " \u00B7 ";
        text += part;
    }
    return text;
}

SystemDataScreen systemDataScreen(const ModelState& state, const SystemDataState& view, Date now) {
    SystemDataScreen screen;
    const int64_t chosen = chosenBytes(view);
    screen.clearTitle = "Clear " + byteCountText(chosen) + "\u2026";
    screen.clearEnabled = chosen != 0 && !view.working;
    screen.confirmTitle = "Delete " + byteCountText(chosen) + " of caches?";
    screen.cachesLoading = !view.caches;
    if (view.caches) {
        screen.noCaches = view.caches->empty();
        for (const CacheLocation& location : *view.caches) {
            screen.caches.push_back({location.name, location.note, byteCountText(location.size),
                                     view.chosen.count(location.name) != 0});
        }
    }

    const std::string drive = driveDisplayName(state);
    screen.movableTitle = "Move to " + drive;
    screen.movableSubtitle = state.driveRoot ? "Whatever uses them needs " + drive + " plugged in."
                                             : "Plug in " + drive + " to move these.";
    screen.movableLoading = !view.movable;
    if (view.movable) {
        screen.nothingToMove = view.movable->empty();
        const bool movable = canMove(state, view);
        for (const MovableData& item : *view.movable) {
            screen.movable.push_back({item.path, item.name, movableSubtitle(item, now), byteCountText(item.size),
                                      movableSymbol(item.kind), movable && !item.openIn});
        }
    }

    // A running operation hides the last outcome without forgetting it.
    if (view.working) {
        screen.showsProgress = true;
        screen.footer = *view.working;
    } else if (view.message) {
        screen.footer = *view.message;
    }
    return screen;
}

std::string clearedMessage(int64_t freed, int64_t kept) {
    std::string text = "Freed " + byteCountText(freed) + ".";
    if (kept == 0) return text;
    return text + " " + std::to_string(kept) + (kept == 1 ? " item was open in an app, so it stayed."
                                                          : " items were open in an app, so they stayed.");
}

std::string movingText(const MovableData& item, const ModelState& state) {
    return "Moving " + quotedName(item.name) + " to " + driveDisplayName(state) + "\u2026";
}

MoveOutcome moveOutcome(const MovableData& item, const ModelState& state, bool linked,
                        const std::optional<std::string>& returned) {
    if (linked) return {true, "Moved " + quotedName(item.name) + " to " + driveDisplayName(state) + "."};
    if (returned) return {false, *returned};
    // A test run leaves the item where it is by design: tell what it found, not a failure.
    if (state.settings.dryRunMode) return {false, state.lastRun.value_or(kTestModeNothingMoved)};
    return {false, "Couldn't move " + quotedName(item.name) + "."};
}

bool linksIntoDrive(const std::string& path, const std::optional<std::string>& driveRoot) {
    if (!driveRoot) return false;
    const std::optional<FileStat> status = FileStat::peek(path);
    if (!status || !status->isSymlink()) return false;
    const std::optional<std::string> target = PathUtil::canonical(path);
    const std::optional<std::string> root = PathUtil::canonical(*driveRoot);
    if (!target || !root || *target == *root) return false;
    return PathUtil::isInside(*target, *root);
}

void removeMovable(SystemDataState& view, const std::string& path) {
    if (!view.movable) return;
    std::erase_if(*view.movable, [&](const MovableData& item) { return item.path == path; });
}

}  // namespace keldwick
