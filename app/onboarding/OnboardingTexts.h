#pragma once
// What the first-run guide's pages say, as plain functions of the model's state and the
// guide's choices, so the pages only lay the texts out.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/HomeAccess.h"
#include "model/DriveController.h"
#include "model/DriveOption.h"
#include "model/ModelState.h"
#include "model/OnboardingModel.h"

namespace keldwick {

inline constexpr const char* kYourDrive = "your drive";

// The name of the guide's drive, else "your drive".
std::string driveNameOrDefault(const std::optional<Drive>& drive);

// ---- Space page ----
std::string spaceHeaderText(std::optional<int64_t> freeBytes, const std::optional<Drive>& drive);
// Whether the computer is already below the chosen level.
bool showsBelowLevelNote(std::optional<int64_t> freeBytes, int64_t keepFreeBytes);
// Which folders are searched, by their last component; or the plea to choose one.
// `locale` as for managedFolderNames: empty for the user's.
std::string folderSummary(const std::vector<FolderChoice>& folders, const std::string& locale = "");

// ---- Drive page ----
struct DriveStepStatus {
    enum class Kind { none, measuring, ready, failed };
    Kind kind = Kind::none;
    std::string title;  // measuring: the progress line; ready: "<name> is ready"; failed: the error
    std::string text;   // ready: the profile's summary
    bool operator==(const DriveStepStatus&) const = default;
};
// `measuredName`: the volume name of the pick whose speed test succeeded.
DriveStepStatus driveStepStatus(bool isMeasuring, const std::optional<std::string>& measuredName,
                                const std::optional<DriveProfile>& profile, const std::optional<std::string>& driveError);

// ---- Done page ----
struct DoneTexts {
    std::string headerText;  // where to find Keldwick from now on: the tray, or its window
    std::string levelTitle;
    std::string levelText;
    std::string keepTitle;
    std::string keepText;
    std::optional<std::string> movableText;  // the could-move-now box, from 1 GB on
    bool operator==(const DoneTexts&) const = default;
};
DoneTexts doneTexts(const ModelState& state, const std::optional<Drive>& drive, int64_t keepFreeBytes,
                    std::optional<int64_t> movableBytes);

// ---- The window's button bar ----
struct OnboardingBar {
    bool showsBack = false;
    bool showsLater = false;
    std::string primaryTitle;
    bool primaryEnabled = true;
    bool primaryFinishes = false;  // "Done": finish and close
    bool operator==(const OnboardingBar&) const = default;
};
OnboardingBar onboardingBar(OnboardingModel::Step step, bool canContinue, bool canReadHome);
// The step `offset` away, or none past either end.
std::optional<OnboardingModel::Step> movedStep(OnboardingModel::Step step, int offset);

// ---- Permission ----
// What shuts the program out of the home on Linux and how to let it in: shown instead of
// opening a settings page, which Linux has none of. In a sandbox it ends with the
// sandbox's own command.
std::string permissionBlockedText(const HomeAccess::Sandbox& sandbox);

// The command that gives the program the home in its sandbox, naming this program alone
// (an override without an application id would open the home to every Flatpak); none
// outside a sandbox.
std::optional<std::string> sandboxCommand(const HomeAccess::Sandbox& sandbox);
// The numbered step with that command; none outside a sandbox.
std::optional<std::string> sandboxStepText(const HomeAccess::Sandbox& sandbox);

// What the page says once "Show the Folder" was pressed: nothing when the folder showed;
// what blocks access when no folder refuses; where to go when nothing could show it.
std::optional<std::string> showFolderAnswer(const FolderShowing& showing, const std::string& home,
                                            const HomeAccess::Sandbox& sandbox = {});

// The standard folders whose own permissions keep the user out, named: none when none does.
std::optional<std::string> refusedByModeNote(const std::vector<std::string>& folders, const std::string& home);

}  // namespace keldwick
