#pragma once
// Everything the "Free Up Space" window shows, as one value computed from the model's state
// and the open preview: its heading, the body it shows (an empty state, the scan's
// progress or the table), the shortfall line, the approval switch and the footer's
// buttons with their titles and enabled state. The window only lays this out.

#include <optional>
#include <string>
#include <vector>

#include "model/ModelState.h"

namespace keldwick {

class PreviewModel;

// What a button of an empty state asks for.
enum class PreviewAction { openPreview, showDriveFiles, chooseFilesToMove, showSystemData };

struct PreviewEmptyState {
    std::string symbol;
    std::string title;
    std::string description;
    std::vector<std::pair<std::string, PreviewAction>> buttons;
    bool operator==(const PreviewEmptyState&) const = default;
};

struct PreviewScreen {
    // noPreview: the window has no preview at all and shows `empty` alone.
    enum class Body { noPreview, scanning, driveFull, nothingToMove, table };

    Body body = Body::noPreview;
    std::optional<PreviewEmptyState> empty;  // for noPreview, driveFull and nothingToMove
    std::string title;
    std::string subtitle;
    bool showsTestBanner = false;
    std::string scanningText;              // under the spinner while scanning
    std::optional<std::string> shortfall;  // the line above the approval switch
    bool showsApprovalSwitch = false;
    bool closeOnly = false;  // the footer has "Close" alone, not "Not Now" and the run button
    std::string runTitle;
    bool runEnabled = false;
    std::string runHelp;  // why the run button is off, when it is for being busy

    bool operator==(const PreviewScreen&) const = default;
};

inline constexpr const char* kTestModeBanner =
    "Test mode is on: Keldwick will only note what it would move. You can turn it off in Settings \u2192 Advanced.";
inline constexpr const char* kAskEveryTime = "Ask me every time before moving files";
inline constexpr const char* kAskEveryTimeHelp =
    "When this is off, Keldwick moves old files on its own whenever your computer gets low on space, and lets you know.";

// `preview` is the model's open preview, or null.
PreviewScreen previewScreen(const ModelState& state, const PreviewModel* preview);

// The run button's title: "Test Run" in test mode, else "Move Files to <drive>".
std::string moveButtonTitle(const ModelState& state, bool dryRun);

}  // namespace keldwick
