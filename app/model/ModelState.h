#pragma once
// The program model's observed state as one plain value. Every text, level, mark, gate and
// follow-up the menu and the windows show is a function of it (StatusTexts, the outcome
// functions), so the model object only gathers these fields and calls those functions.
// The objects the model owns (journal, engine, tasks, lock, notifier) are not part of it.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drives/DiskList.h"
#include "drives/DriveRefusal.h"
#include "drives/VolumeInfo.h"
#include "drives/WakeDetector.h"
#include "engine/EngineProgress.h"
#include "foundation/Date.h"
#include "foundation/OffloadRecord.h"
#include "model/AppWindow.h"
#include "model/RecordList.h"
#include "scanning/AppSettings.h"
#include "scanning/Automation.h"
#include "scanning/OffloadPlanner.h"

namespace keldwick {

// What the model is doing now.
enum class Activity { idle, scanning, clearing, moving, restoring, recovering };

// True while files are moved, brought back or recovered: quitting then waits. Scanning
// and clearing caches don't count.
bool isBusy(Activity activity);

// Why the last automatic run did not free space.
enum class Stall { nothingToMove, driveFull, testRun };

// What a preview is for: the user's own, the first automatic run waiting for approval,
// or one a notice suggested.
enum class PreviewKind { manual, firstAutomatic, suggested };

// The chosen drive is attached but not mounted yet; stuck once it has taken too long.
struct DriveMounting {
    Date since;
    bool stuck = false;
    bool operator==(const DriveMounting&) const = default;
};

struct StallState {
    Stall kind = Stall::nothingToMove;
    Date date;
    int64_t freeBytes = 0;  // free space on this computer when it was recorded
    bool operator==(const StallState&) const = default;
};

struct StallNotice {
    Stall kind = Stall::nothingToMove;
    Date date;
    bool operator==(const StallNotice&) const = default;
};

// A drive's name as shown beside an item, and whether it is plugged in.
struct DriveStatus {
    DriveStatus() = default;
    DriveStatus(std::string name, bool connected, std::optional<std::string> refusal = std::nullopt)
        : name(std::move(name)), connected(connected), refusal(std::move(refusal)) {}

    std::string name;
    bool connected = false;
    // Why the volume carrying it is refused, while it is mounted but not taken.
    std::optional<std::string> refusal;
    bool operator==(const DriveStatus&) const = default;
};

// What the model reads of the open preview.
struct PreviewState {
    PreviewKind kind = PreviewKind::manual;
    bool dryRun = false;
    bool keepAsking = false;
    bool isScanning = true;
    std::optional<OffloadPlan> plan;
    bool operator==(const PreviewState&) const = default;
};

struct ModelState {
    AppSettings settings;
    RecordList records;  // the listed ones (see listedRecords), newest change first
    bool hasBroughtFilesBack = false;
    std::vector<std::string> pins;              // paths kept on this computer
    std::vector<std::string> recentlyRestored;  // paths
    std::optional<int64_t> computerFreeBytes;
    std::optional<int64_t> computerTotalBytes;
    std::optional<std::string> driveRoot;  // mount path of the chosen drive while mounted
    std::optional<VolumeInfo> driveVolume;
    std::vector<DriveRefusal> driveRefusals;  // volumes carrying the chosen drive's marker that weren't taken
    Activity activity = Activity::idle;
    std::optional<EngineProgress> progress;
    DriveWakeState wakeState = DriveWakeState::awake;
    std::optional<DriveMounting> driveMounting;
    DiskList disks;
    bool canReadHome = false;
    // Standard folders whose own permissions keep the user out: named, never moved from.
    std::vector<std::string> foldersRefusedByMode;
    AutomationDecision decision;
    std::optional<std::string> lastRun;  // text of the last run's result
    std::optional<Date> lastRunDate;
    std::optional<Date> nextCheck;
    std::optional<std::string> journalProblem;  // why the journal on disk could not be opened
    bool settingsSetAside = false;              // the settings file was damaged and set aside at start
    std::optional<std::string> settingsProblem;  // why the last settings save failed; none once one succeeded
    std::optional<PreviewState> preview;
    std::vector<WindowRequest> windowRequests;
    std::optional<std::string> filesProblem;
    std::map<std::string, DriveStatus> otherDrives;  // by drive id
    SettingsTab settingsTab = SettingsTab::general;
    FilesTab filesTab = FilesTab::moved;
    std::string home;          // fixed for the run
    // Where the file manager shows "Move to Keldwick Drive"; none when it isn't installed
    // for this program. Fixed for the run.
    std::optional<std::string> moveEntry;
    // Whether the desktop has a tray; without one the panel is an ordinary window.
    bool hasTray = true;
    bool started = false;
    std::optional<StallNotice> lastStallNotice;
    bool isChecking = false;
    std::optional<StallState> stall;
    std::optional<Date> lastAutomaticCacheClear;
    std::map<std::string, Date> failedMoves;  // path -> when its move last failed
    std::optional<Date> lastFailureNotice;

    bool operator==(const ModelState&) const = default;
};

}  // namespace keldwick
