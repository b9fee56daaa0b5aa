#pragma once
// What each tab of the settings window shows, as plain functions of the model's state
// (and, for the drive, of the drive check under way), so the tabs only lay texts out and
// pass the user's edits on.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drives/Drive.h"
#include "foundation/Date.h"
#include "model/DriveOption.h"
#include "model/ModelState.h"
#include "scanning/ScanRule.h"

namespace keldwick {

// ---- General ----

// What the program's software updates allow right now.
struct UpdateFacts {
    bool isConfigured = false;
    bool canCheck = false;
    bool checksAutomatically = false;
    std::string versionText;  // "1.0 (1)"
    bool downloadsAutomatically = false;
    bool canInstallItself = false;
    std::string installProblem;  // why it can't, in one line
    bool operator==(const UpdateFacts&) const = default;
};

struct GeneralScreen {
    int64_t keepFreeBytes = 0;
    std::string keepFreeFooter;  // names the drive
    bool askFirst = false;       // the inverse of automaticRunsApproved
    std::string askCaption;
    bool paused = false;
    bool notifications = false;
    bool showsUpdateSwitches = false;
    bool checksAutomatically = false;
    // "Download and install updates automatically": off and disabled, with the reason
    // under it, where the program can't replace itself.
    bool downloadsAutomatically = false;
    bool downloadSwitchEnabled = false;
    std::optional<std::string> downloadSwitchNote;
    std::optional<std::string> updatesNotSetUp;  // instead of the switches
    std::string versionText;                     // "Keldwick 1.0 (1)"
    bool checkForUpdatesEnabled = false;
    bool operator==(const GeneralScreen&) const = default;
};

GeneralScreen generalScreen(const ModelState& state, const UpdateFacts& updates);

// Shown under the login switch when the system refused the change.
std::string loginItemProblemText(const std::string& reason);
// Shown at the top of the window while the settings can't be saved.
std::string settingsProblemText(const std::string& reason);

// ---- Folders ----

struct FolderRow {
    std::string path;
    std::string title;                    // folderDisplayName
    std::optional<std::string> problem;   // "Keldwick leaves this folder alone: <reason>."
    std::string removeText;               // "Stop looking in <name>"
    bool operator==(const FolderRow&) const = default;
};

struct PinRow {
    std::string path;
    std::string symbol;  // "folder" for a folder, else "doc"
    std::string name;
    std::string place;   // folderDisplayName of the parent
    std::string removeText;
    bool operator==(const PinRow&) const = default;
};

struct NeverMovedRow {
    std::string symbol;
    std::string text;
    bool operator==(const NeverMovedRow&) const = default;
};

struct FoldersScreen {
    std::vector<FolderRow> folders;
    bool noFolders = false;  // the orange plea to add one
    std::string foldersFooter;
    std::vector<PinRow> pins;
    bool noPins = false;
    bool operator==(const FoldersScreen&) const = default;
};

// `rules` are the scan rules of the moment: a folder a scan would skip says why.
FoldersScreen foldersScreen(const ModelState& state, const RuleList& rules);

// The heading of the items the program never moves by itself.
inline constexpr const char* kNeverMovedTitle = "Keldwick never moves on its own";
// The six kinds of items the program never moves, in the order shown.
const std::vector<NeverMovedRow>& neverMovedRows();

// ---- Drive ----

// The drive check under way or last failed; it outlives the window.
struct DriveWork {
    std::optional<std::string> working;  // "Checking …"
    std::optional<std::string> error;
    bool operator==(const DriveWork&) const = default;
};

struct DriveScreen {
    bool hasDrive = false;  // else only "No drive chosen yet."
    std::string driveName;
    std::string status;
    std::string filesOnIt;
    std::optional<std::string> kind;     // with a stored profile
    std::optional<std::string> summary;  // with a stored profile
    bool showsFolderButton = false;      // mounted
    bool differentDriveEnabled = false;
    std::optional<std::string> working;
    std::optional<std::string> error;
    bool showsSpeed = false;                  // with a stored profile
    std::optional<std::string> checkedLabel;  // "Checked <date>", with speedDetails
    std::optional<std::string> speedDetails;  // else "Not checked yet."
    bool checkSpeedEnabled = false;
    bool operator==(const DriveScreen&) const = default;
};

DriveScreen driveScreen(const ModelState& state, const DriveWork& work);

// Whether the chooser marks `option`: its marker names the stored drive.
bool chooserMarksChosen(const DriveOption& option, const std::optional<Drive>& stored);

// A drive check may start: none runs, the model is idle (nothing moves, restores, scans or
// clears) and, for the speed, the drive is mounted.
bool canChangeDrive(const ModelState& state, const DriveWork& work);
bool canCheckSpeed(const ModelState& state, const DriveWork& work);

// "Checking <name> (about 10 seconds)…"
std::string checkingDriveText(const std::string& volumeName);
// "Keldwick couldn't use <name>: <reason>"
std::string couldNotUseText(const std::string& volumeName, const std::string& reason);

// ---- Advanced ----

// A stepper or picker over a stored value: its range as offered, stretched to hold a
// stored value outside it, so a value set elsewhere is shown as it is and kept until
// the user changes it.
struct StepperState {
    int64_t value = 0;
    int64_t minimum = 0;
    int64_t maximum = 0;
    int64_t step = 1;
    // The value and range fit a spin box; a stored value too large for one is shown by
    // the label alone and can't be stepped.
    bool editable = true;
    bool operator==(const StepperState&) const = default;
};

struct AdvancedScreen {
    StepperState age;
    std::string ageLabel;  // Markdown: "Only move files unused for at least **30 days**"
    bool moveProjects = false;
    bool moveRecentLightFiles = false;
    bool clearCachesWhenLow = false;
    StepperState thresholdGB;
    std::string thresholdLabel;  // Markdown
    StepperState targetGB;
    std::string targetLabel;  // Markdown
    std::vector<int64_t> intervals;  // minutes; the stored one added when it isn't offered
    int intervalIndex = 0;
    bool testMode = false;
    bool operator==(const AdvancedScreen&) const = default;
};

AdvancedScreen advancedScreen(const AppSettings& settings);

// "<n> minutes"
std::string intervalText(int64_t minutes);

inline constexpr const char* kNoDriveChosen = "No drive chosen yet.";
inline constexpr const char* kNotChecked = "Not checked yet.";
inline constexpr const char* kCheckingSpeed = "Checking the drive's speed (about 10 seconds)\u2026";
inline constexpr const char* kNoDriveFound = "No drive found. Plug in your external drive and try again.";
inline constexpr const char* kFilesStay =
    "Files you already moved stay on this drive. They're still listed, and they open whenever it's plugged in.";
inline constexpr const char* kAlwaysBringBack = "You can always bring files back, whatever these are set to.";
inline constexpr const char* kNoPins = "Nothing yet. Add anything you need even when the drive isn't plugged in.";
inline constexpr const char* kNoFolders = "Add at least one folder so Keldwick can free up space on your computer.";

}  // namespace keldwick
