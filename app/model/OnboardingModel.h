#pragma once
// What the first-run guide collects before anything reaches the settings: the step shown,
// the drives offered and the one picked and measured, the folders to look in, the free
// space to keep and whether the program starts at login. Nothing is written until
// finish(), which stores every choice in one settings change and starts the checking.
//
// The one instance lives as long as the program's model, so a guide closed half way shows
// the same step and choices when opened again. It reads the model's state and works through
// the settings and drive controllers. Main thread only; measuring a
// drive and estimating what could move run on background threads, and only the latest
// of each is applied: a pick or an estimate that was overtaken is dropped.

#include <QObject>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <memory>

#include "drives/Drive.h"
#include "drives/DriveProfile.h"
#include "model/BackgroundWork.h"
#include "model/DriveOption.h"

namespace keldwick {

class DriveController;
class FilePicker;
class ModelStore;
class SettingsController;

// A folder offered for searching.
struct FolderChoice {
    std::string path;
    bool isOn = true;
    std::optional<std::string> problem;  // why the scanner would skip it, as a sentence
    bool operator==(const FolderChoice&) const = default;
};

class OnboardingModel final : public QObject {
    Q_OBJECT

public:
    enum class Step { welcome = 0, homeAccess = 1, drive = 2, space = 3, done = 4 };
    // The step with that number; none outside 0...4.
    static std::optional<Step> stepFromRaw(int raw);

    // Everything handed in outlives the guide.
    OnboardingModel(const ModelStore& store, SettingsController& settings, DriveController& drives,
                    BackgroundWork work, std::shared_ptr<FilePicker> picker, QObject* parent = nullptr);

    Step step() const { return step_; }
    const std::vector<DriveOption>& drives() const { return drives_; }
    const std::optional<std::string>& chosenDriveID() const { return chosenDriveID_; }
    bool isMeasuring() const { return isMeasuring_; }
    // The picked drive is being marked as the drive (the user pressed Continue).
    bool isMarking() const { return isMarking_; }
    // The marked drive: set once the pick is confirmed.
    const std::optional<Drive>& drive() const { return drive_; }
    // The volume name of the pick whose speed test succeeded.
    const std::optional<std::string>& measuredName() const { return measuredName_; }
    const std::optional<DriveProfile>& profile() const { return profile_; }
    const std::optional<std::string>& driveRoot() const { return driveRoot_; }
    const std::optional<std::string>& driveError() const { return driveError_; }
    const std::optional<int64_t>& movableBytes() const { return movableBytes_; }
    const std::vector<FolderChoice>& folders() const { return folders_; }
    int64_t keepFreeBytes() const { return keepFreeBytes_; }
    bool openAtLogin() const { return openAtLogin_; }

    // The views' writes.
    void setStep(Step step);
    void setDrives(std::vector<DriveOption> drives);
    void setKeepFreeBytes(int64_t bytes);
    void setOpenAtLogin(bool on);
    // Switches the listed folder at `path` on or off; nothing for a path not listed.
    void setFolderOn(const std::string& path, bool on);

    // The folders switched on, in list order.
    std::vector<FolderChoice> chosenFolders() const;
    // Space: a folder is on. Drive: a drive is measured, and no measuring or marking
    // runs. Else true.
    bool canContinue() const;

    // Lists the drive options on a background thread and stores them when they arrive.
    void refreshDrives();
    // Downloads, Desktop and Documents, each on unless the scanner would skip it; once:
    // a list already loaded is kept with the user's switches.
    void loadFolders();
    // Asks for folders in the home; each new one (by its real path) is appended.
    void addFolder();
    // The bytes that could move now from the chosen folders to the measured drive; none
    // while unknown, without permission, without a usable journal, or when cancelled.
    void estimateMovable();
    // The page that asked for the estimate went away: a late result is dropped.
    void cancelEstimate();
    // Speed-tests the option, which leaves nothing on it; only the latest pick's outcome
    // is applied.
    void choose(const DriveOption& option);
    // Continue on the drive step: marks the measured pick as the drive (once; a pick
    // already marked stays), then moves on to the space step. A failure undoes the pick
    // and says why in driveError. Nothing without a measured pick.
    void confirmDrive();
    // Writes drive, profile, folders, keep-free level and target, and setup complete in
    // one settings change; sets the login item, then announces finished (the checking
    // starts). Nothing without a measured drive. Gives the login item's error when it
    // could not be set; the openAtLogin switch is then set back.
    std::optional<std::string> finish();

signals:
    void stepChanged();
    void drivesChanged();
    void chosenDriveIDChanged();
    void isMeasuringChanged();
    void isMarkingChanged();
    void driveChanged();
    void profileChanged();
    void driveRootChanged();
    void driveErrorChanged();
    void movableBytesChanged();
    void foldersChanged();
    void keepFreeBytesChanged();
    void openAtLoginChanged();
    // The guide's choices were written: the model starts checking.
    void finished();

private:
    template <class T, class U>
    void assign(T& field, U&& value, void (OnboardingModel::*changed)()) {
        if (field == value) return;
        field = std::forward<U>(value);
        emit(this->*changed)();
    }
    FolderChoice folderChoice(std::string path) const;

    const ModelStore& store_;
    SettingsController& settings_;
    DriveController& driveController_;
    BackgroundWork work_;
    std::shared_ptr<FilePicker> picker_;

    Step step_ = Step::welcome;
    std::vector<DriveOption> drives_;
    std::optional<std::string> chosenDriveID_;
    bool isMeasuring_ = false;
    bool isMarking_ = false;
    std::optional<DriveOption> measured_;  // the pick whose speed test succeeded
    std::optional<std::string> measuredName_;
    std::optional<Drive> drive_;
    std::optional<DriveProfile> profile_;
    std::optional<std::string> driveRoot_;
    std::optional<std::string> driveError_;
    std::optional<int64_t> movableBytes_;
    std::vector<FolderChoice> folders_;
    int64_t keepFreeBytes_;
    bool openAtLogin_ = true;

    uint64_t pick_ = 0;      // the latest choose()
    uint64_t estimate_ = 0;  // the latest estimateMovable() or cancelEstimate()
    uint64_t listing_ = 0;   // the latest refreshDrives()
};

}  // namespace keldwick
