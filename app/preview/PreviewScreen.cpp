#include "preview/PreviewScreen.h"

#include <limits>

#include "foundation/Formatting.h"
#include "model/DisplayTexts.h"
#include "model/PreviewModel.h"
#include "model/PreviewRequest.h"
#include "model/StatusTexts.h"

namespace keldwick {

namespace {

constexpr int64_t openEnded = std::numeric_limits<int64_t>::max();

bool hasItems(const PreviewModel& preview) { return preview.plan() && !preview.plan()->items.empty(); }

std::string title(const ModelState& state, const PreviewModel& preview) {
    if (state.computerFreeBytes && state.settings.isBelowKeepFree(*state.computerFreeBytes)) {
        return "Your computer is running low on space";
    }
    if (preview.plan() && preview.plan()->totalBytes() >= 1) {
        return "You could free up " + byteCountText(preview.plan()->totalBytes()) + " now";
    }
    return "Free Up Space";
}

std::string subtitle(const ModelState& state, const PreviewModel& preview) {
    if (preview.isScanning()) return "Looking for files you haven't used in a while\u2026";
    if (!hasItems(preview)) return {};
    int64_t files = 0, folders = 0;
    bool recent = false;
    for (const Candidate& item : preview.plan()->items) {
        ++(item.isDirectory ? folders : files);
        recent = recent || item.isRecent;
    }
    const std::string when = recent ? "this week" : "in " + minimumAgeText(state);
    return fileFolderCountText(files, folders) + " (" + byteCountText(preview.plan()->totalBytes()) +
           ") you haven't used " + when + " can move to " + driveDisplayName(state) +
           ". They stay in their folders as shortcuts and open whenever the drive is plugged in.";
}

std::optional<std::string> shortfallText(const ModelState& state, const PreviewModel& preview) {
    if (!hasItems(preview)) return std::nullopt;
    const std::string uncheck = "Uncheck anything you'd rather keep on this computer.";
    const std::string allThatFits = "That's all that fits on " + driveDisplayName(state) + " right now";
    if (preview.goalBytes() == openEnded) {
        return preview.hasUnplannedCandidates() ? allThatFits + "." : uncheck;
    }
    const int64_t shortfall = preview.plan()->shortfall();
    if (shortfall < 1) return uncheck;
    const std::string shortText = byteCountText(shortfall) + " short of what your computer needs";
    if (preview.hasUnplannedCandidates()) return allThatFits + " \u2014 " + shortText + ".";
    return "That's " + shortText + ": nothing else is old or big enough to move.";
}

PreviewEmptyState noPreview(const ModelState& state) {
    if (state.driveRoot) {
        return {"check",
                "Nothing to review",
                "To see which files Keldwick can move, choose Free Up Space in the panel.",
                {{"Free Up Space\u2026", PreviewAction::openPreview}}};
    }
    const std::string drive = driveDisplayName(state);
    return {"drive-missing",
            "Plug in " + drive,
            "Keldwick frees up space by moving files to " + drive + ", so it needs to be plugged in.",
            {}};
}

}  // namespace

std::string moveButtonTitle(const ModelState& state, bool dryRun) {
    return dryRun ? "Test Run" : "Move Files to " + driveDisplayName(state);
}

PreviewScreen previewScreen(const ModelState& state, const PreviewModel* preview) {
    PreviewScreen screen;
    if (!preview) {
        screen.empty = noPreview(state);
        screen.closeOnly = true;
        return screen;
    }
    const std::string drive = driveDisplayName(state);
    const std::string folders = managedFolderNames(state);
    const bool hasRows = hasItems(*preview) || !preview->excludedCandidates().empty();

    screen.title = title(state, *preview);
    screen.subtitle = subtitle(state, *preview);
    screen.showsTestBanner = preview->dryRun();
    if (preview->isScanning()) {
        screen.body = PreviewScreen::Body::scanning;
        screen.scanningText = "Looking through " + folders + "\u2026";
    } else if (preview->driveIsFull()) {
        screen.body = PreviewScreen::Body::driveFull;
        screen.empty = PreviewEmptyState{
            "drive-warning",
            drive + " is full",
            "There are files Keldwick could move, but none of them fits. Delete what you no longer need from " +
                drive + ", or use a bigger drive.",
            {{"Show Files on Your Drive", PreviewAction::showDriveFiles}}};
    } else if (!hasRows) {
        screen.body = PreviewScreen::Body::nothingToMove;
        screen.empty = PreviewEmptyState{
            "check",
            "Nothing to move right now",
            "Everything in " + folders + " was used recently, is protected, or is too small to be worth moving.",
            {{"Choose Files to Move\u2026", PreviewAction::chooseFilesToMove},
             {"System Data\u2026", PreviewAction::showSystemData}}};
    } else {
        screen.body = PreviewScreen::Body::table;
    }

    if (canMoveFiles(state)) screen.shortfall = shortfallText(state, *preview);
    screen.showsApprovalSwitch =
        preview->kind() == PreviewKind::firstAutomatic && !state.settings.automaticRunsApproved;
    screen.closeOnly = !preview->isScanning() && !hasRows;
    screen.runTitle = moveButtonTitle(state, preview->dryRun());
    screen.runEnabled = !preview->isScanning() && canApprovePreview(state, preview->state());
    if (state.activity != Activity::idle) screen.runHelp = "Keldwick is busy. Try again in a moment.";
    return screen;
}

}  // namespace keldwick
