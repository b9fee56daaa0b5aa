#include "settings/SettingsScreens.h"

#include <algorithm>
#include <limits>

#include "foundation/FileStat.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/AndroidDevices.h"
#include "model/DisplayTexts.h"
#include "model/StatusTexts.h"
#include "scanning/Scanner.h"
#include "ui/RelativeDate.h"

namespace keldwick {

namespace {

constexpr int64_t GB = AppSettings::gigabyte;

// Facts of the entry, none when it is missing or can't be read.
std::optional<FileStat> statOrNone(const std::string& path) {
    try {
        return FileStat::read(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The offered range, stretched to hold a stored value outside it.
StepperState stepper(int64_t value, int64_t lowest, int64_t highest, int64_t step) {
    StepperState s;
    s.value = value;
    s.minimum = std::min(lowest, value);
    s.maximum = std::max(highest, value);
    s.step = step;
    constexpr int64_t intMax = std::numeric_limits<int>::max();
    constexpr int64_t intMin = std::numeric_limits<int>::min();
    s.editable = s.minimum >= intMin && s.maximum <= intMax;
    return s;
}

}  // namespace

GeneralScreen generalScreen(const ModelState& state, const UpdateFacts& updates) {
    const AppSettings& settings = state.settings;
    GeneralScreen screen;
    screen.keepFreeBytes = settings.thresholdBytes;
    screen.keepFreeFooter = "When your computer has less free space than this, Keldwick moves old files to " +
                            driveDisplayName(state) + " to make room.";
    screen.askFirst = !settings.automaticRunsApproved;
    screen.askCaption = settings.automaticRunsApproved
                            ? "Keldwick moves old files on its own when your computer gets low on space, and lets you know."
                            : "Keldwick shows you the list of files and waits for your OK before moving anything.";
    screen.paused = settings.isPaused;
    screen.notifications = settings.notificationsEnabled;
    screen.showsUpdateSwitches = updates.isConfigured;
    screen.checksAutomatically = updates.checksAutomatically;
    screen.downloadSwitchEnabled = updates.isConfigured && updates.canInstallItself;
    screen.downloadsAutomatically = screen.downloadSwitchEnabled && updates.downloadsAutomatically;
    if (updates.isConfigured && !updates.canInstallItself) {
        screen.downloadSwitchNote = updates.installProblem + " Installing an update opens its download page.";
    }
    if (!updates.isConfigured) {
        screen.updatesNotSetUp =
            "Updates aren't set up in this build: add the feed URL and EdDSA public key to "
            "the build's settings (-DSUFeedURL and -DSUPublicEDKey).";
    }
    screen.versionText = "Keldwick " + updates.versionText;
    screen.checkForUpdatesEnabled = updates.isConfigured && updates.canCheck;
    return screen;
}

std::string loginItemProblemText(const std::string& reason) {
    return "Keldwick couldn't change whether it opens when you log in: " + reason;
}

std::string settingsProblemText(const std::string& reason) {
    return "Keldwick couldn't save your settings: " + reason;
}

FoldersScreen foldersScreen(const ModelState& state, const RuleList& rules) {
    const AppSettings& settings = state.settings;
    FoldersScreen screen;
    for (const std::string& path : settings.managedFolders) {
        FolderRow row;
        row.path = path;
        row.title = folderDisplayName(path, state.home);
        if (auto reason = Scanner::reasonToSkip(path, rules)) row.problem = folderProblemText(*reason);
        row.removeText = "Stop looking in " + PathUtil::name(path);
        screen.folders.push_back(std::move(row));
    }
    screen.noFolders = settings.managedFolders.empty();
    const bool emulators =
        settings.moveProjectsAndEmulators && statOrNone(AndroidDevices::devicesFolder(state.home)).has_value();
    screen.foldersFooter = emulators ? "Keldwick only looks inside these folders, and at your Android emulators."
                                     : "Keldwick only looks inside these folders.";
    for (const std::string& path : state.pins) {
        PinRow row;
        row.path = path;
        const auto stat = statOrNone(path);
        row.symbol = stat && stat->kind == FileStat::Kind::directory ? "folder" : "doc";
        row.name = PathUtil::name(path);
        row.place = folderDisplayName(PathUtil::parent(path), state.home);
        row.removeText = "Remove " + row.name + " from this list";
        screen.pins.push_back(std::move(row));
    }
    screen.noPins = state.pins.empty();
    return screen;
}

const std::vector<NeverMovedRow>& neverMovedRows() {
    static const std::vector<NeverMovedRow> rows = {
        {"application", "Apps and their parts"},
        {"image", "Photo, music and video libraries"},
        {"cloud-folder", "Folders synced by Dropbox, Nextcloud, Syncthing, Google Drive and others"},
        {"document-recent", "Files that are open right now"},
        {"code", "Code projects you're working on (unused ones move in one piece)"},
        // Unused emulators move with the setting for them; what System Data moves is the user's
        // own choice in its window, so the heading says "on its own".
        {"library", "Your hidden folders (apart from unused Android emulators), the Trash and system folders"},
    };
    return rows;
}

bool canChangeDrive(const ModelState& state, const DriveWork& work) {
    return !work.working && state.activity == Activity::idle;
}

bool canCheckSpeed(const ModelState& state, const DriveWork& work) {
    return canChangeDrive(state, work) && state.driveRoot.has_value();
}

DriveScreen driveScreen(const ModelState& state, const DriveWork& work) {
    const AppSettings& settings = state.settings;
    DriveScreen screen;
    screen.hasDrive = settings.drive.has_value();
    if (settings.drive) {
        screen.driveName = state.driveVolume ? state.driveVolume->name : settings.drive->name;
        screen.status = state.driveRoot ? "Plugged in \u00B7 " +
                                              byteCountText(state.driveVolume ? state.driveVolume->availableBytes : 0) +
                                              " free"
                                        : "Not plugged in";
        screen.filesOnIt = !hasOffloaded(state)
                               ? "None yet"
                               : offloadedCountText(state) + " \u00B7 " + byteCountText(offloadedBytes(state));
        if (settings.driveProfile) {
            screen.kind = settings.driveProfile->kind();
            screen.summary = settings.driveProfile->summary();
        }
    }
    screen.showsFolderButton = state.driveRoot.has_value();
    screen.differentDriveEnabled = canChangeDrive(state, work);
    screen.working = work.working;
    screen.error = work.error;
    screen.showsSpeed = settings.driveProfile.has_value();
    if (settings.driveProfile) {
        const auto details = settings.driveProfile->speedDetails();
        if (details && settings.driveProfile->benchmark) {
            screen.checkedLabel = "Checked " + abbreviatedDateText(settings.driveProfile->benchmark->date, false);
            screen.speedDetails = details;
        }
    }
    screen.checkSpeedEnabled = canCheckSpeed(state, work);
    return screen;
}

bool chooserMarksChosen(const DriveOption& option, const std::optional<Drive>& stored) {
    return stored && option.existing && option.existing->id == stored->id;
}

std::string checkingDriveText(const std::string& volumeName) {
    return "Checking " + volumeName + " (about 10 seconds)\u2026";
}

std::string couldNotUseText(const std::string& volumeName, const std::string& reason) {
    return "Keldwick couldn't use " + volumeName + ": " + reason;
}

AdvancedScreen advancedScreen(const AppSettings& settings) {
    AdvancedScreen screen;
    screen.age = stepper(settings.minimumAgeDays, 7, 365, 7);
    screen.ageLabel = "Only move files unused for at least **" + std::to_string(settings.minimumAgeDays) + " days**";
    screen.moveProjects = settings.moveProjectsAndEmulators;
    screen.moveRecentLightFiles = settings.moveRecentLightFiles;
    screen.clearCachesWhenLow = settings.clearCachesWhenLow;
    const int64_t thresholdGB = settings.thresholdBytes / GB;
    screen.thresholdGB = stepper(thresholdGB, 5, 500, 5);
    screen.thresholdLabel = "Start making room below **" + gigabytesText(settings.thresholdBytes) + "** free";
    screen.targetGB = stepper(settings.targetBytes / GB, thresholdGB + 1, 600, 5);
    screen.targetLabel = "Make room until there's **" + gigabytesText(settings.targetBytes) + "** free";
    screen.intervals = {5, 10, 15, 30, 60};
    auto at = std::find(screen.intervals.begin(), screen.intervals.end(), settings.checkIntervalMinutes);
    if (at == screen.intervals.end()) {
        screen.intervals.push_back(settings.checkIntervalMinutes);
        screen.intervalIndex = static_cast<int>(screen.intervals.size()) - 1;
    } else {
        screen.intervalIndex = static_cast<int>(at - screen.intervals.begin());
    }
    screen.testMode = settings.dryRunMode;
    return screen;
}

std::string intervalText(int64_t minutes) { return std::to_string(minutes) + " minutes"; }

}  // namespace keldwick
