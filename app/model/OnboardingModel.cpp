#include "model/OnboardingModel.h"

#include <algorithm>

#include "foundation/Log.h"
#include "foundation/PathUtil.h"
#include "model/AutomaticCheck.h"
#include "model/DriveController.h"
#include "model/MainThread.h"
#include "model/ModelStore.h"
#include "model/SettingsController.h"
#include "scanning/AppSettings.h"
#include "scanning/Scanner.h"

namespace keldwick {

std::optional<OnboardingModel::Step> OnboardingModel::stepFromRaw(int raw) {
    if (raw < 0 || raw > 4) return std::nullopt;
    return static_cast<Step>(raw);
}

OnboardingModel::OnboardingModel(const ModelStore& store, PlanSources sources, SettingsController& settings,
                                 DriveController& drives, BackgroundWork work, std::shared_ptr<FilePicker> picker,
                                 QObject* parent)
    : QObject(parent),
      store_(store),
      sources_(std::move(sources)),
      settings_(settings),
      driveController_(drives),
      work_(std::move(work)),
      picker_(std::move(picker)),
      keepFreeBytes_(AppSettings{}.thresholdBytes) {}

void OnboardingModel::setStep(Step step) {
    assertMainThread();
    assign(step_, step, &OnboardingModel::stepChanged);
}

void OnboardingModel::setDrives(std::vector<DriveOption> drives) {
    assertMainThread();
    drives_ = std::move(drives);
    emit drivesChanged();
}

void OnboardingModel::setKeepFreeBytes(int64_t bytes) {
    assertMainThread();
    assign(keepFreeBytes_, bytes, &OnboardingModel::keepFreeBytesChanged);
}

void OnboardingModel::setOpenAtLogin(bool on) {
    assertMainThread();
    assign(openAtLogin_, on, &OnboardingModel::openAtLoginChanged);
}

void OnboardingModel::setFolderOn(const std::string& path, bool on) {
    assertMainThread();
    auto found = std::find_if(folders_.begin(), folders_.end(), [&](const FolderChoice& f) { return f.path == path; });
    if (found == folders_.end()) return;
    found->isOn = on;
    emit foldersChanged();
}

std::vector<FolderChoice> OnboardingModel::chosenFolders() const {
    std::vector<FolderChoice> chosen;
    std::copy_if(folders_.begin(), folders_.end(), std::back_inserter(chosen),
                 [](const FolderChoice& f) { return f.isOn; });
    return chosen;
}

bool OnboardingModel::canContinue() const {
    switch (step_) {
        case Step::space:
            return !chosenFolders().empty();
        case Step::drive:
            return profile_.has_value() && measured_.has_value() && !isMeasuring_ && !isMarking_;
        default:
            return true;
    }
}

void OnboardingModel::refreshDrives() {
    assertMainThread();
    driveController_.listOptions(listing_.replace<std::vector<DriveOption>>(
        [this](EngineOutcome<std::vector<DriveOption>> outcome) {
            if (outcome.succeeded()) setDrives(std::move(*outcome.value));
        }));
}

FolderChoice OnboardingModel::folderChoice(std::string path) const {
    auto reason = Scanner::reasonToSkip(path, scanRules(store_.state()));
    return FolderChoice{std::move(path), !reason.has_value(), std::move(reason)};
}

void OnboardingModel::loadFolders() {
    assertMainThread();
    if (!folders_.empty()) return;
    std::vector<FolderChoice> folders;
    for (auto& path : AppSettings::defaultFolders(store_.state().home)) folders.push_back(folderChoice(path));
    folders_ = std::move(folders);
    emit foldersChanged();
}

void OnboardingModel::addFolder() {
    assertMainThread();
    PickRequest request;
    request.folders = true;
    request.files = false;
    request.multiple = true;
    request.startIn = store_.state().home;
    request.button = "Add";
    request.message = "Choose folders where Keldwick should look for old files.";
    auto chosen = picker_->pick(request);
    if (!chosen) return;
    for (const auto& picked : *chosen) {
        std::string path = PathUtil::canonical(picked).value_or(picked);
        if (std::any_of(folders_.begin(), folders_.end(), [&](const FolderChoice& f) { return f.path == path; }))
            continue;
        folders_.push_back(folderChoice(std::move(path)));
        emit foldersChanged();
    }
}

void OnboardingModel::estimateMovable() {
    assertMainThread();
    // An estimate overtaken by a newer one, or cancelled, stops and is dropped.
    estimate_.cancel();
    assign(movableBytes_, std::nullopt, &OnboardingModel::movableBytesChanged);
    if (!profile_ || !driveRoot_) return;
    if (!store_.state().canReadHome || store_.state().journalProblem) return;
    std::vector<std::string> paths;
    for (const auto& folder : chosenFolders()) paths.push_back(folder.path);
    auto builder = planBuilder(store_.state(), sources_, paths, *profile_);
    estimate_.run<int64_t>(
        WorkPriority::user,
        [builder = std::move(builder), root = *driveRoot_](const LatestJob::Cancel& cancel) mutable {
            builder.cancel = cancel;
            return builder.movableBytes(root);
        },
        [this](EngineOutcome<int64_t> outcome) {
            if (outcome.succeeded()) assign(movableBytes_, *outcome.value, &OnboardingModel::movableBytesChanged);
        });
}

void OnboardingModel::cancelEstimate() {
    assertMainThread();
    estimate_.cancel();
}

void OnboardingModel::choose(const DriveOption& option) {
    assertMainThread();
    measured_.reset();
    assign(chosenDriveID_, option.id(), &OnboardingModel::chosenDriveIDChanged);
    assign(drive_, std::nullopt, &OnboardingModel::driveChanged);
    assign(measuredName_, std::nullopt, &OnboardingModel::profileChanged);
    assign(profile_, std::nullopt, &OnboardingModel::profileChanged);
    assign(driveRoot_, std::nullopt, &OnboardingModel::driveRootChanged);
    assign(driveError_, std::nullopt, &OnboardingModel::driveErrorChanged);
    assign(isMarking_, false, &OnboardingModel::isMarkingChanged);
    assign(isMeasuring_, true, &OnboardingModel::isMeasuringChanged);
    // A later pick owns the fields; an earlier one's outcome is no longer wanted.
    driveController_.testSpeed(option, pick_.replace<DriveProfile>([this, option](EngineOutcome<DriveProfile> outcome) {
        if (outcome.succeeded()) {
            measured_ = option;
            assign(measuredName_, option.volume.name, &OnboardingModel::profileChanged);
            assign(profile_, *outcome.value, &OnboardingModel::profileChanged);
            assign(driveRoot_, option.volume.mountPath, &OnboardingModel::driveRootChanged);
        } else {
            assign(driveError_, "Keldwick couldn't use " + option.volume.name + ": " + outcome.errorText(),
                   &OnboardingModel::driveErrorChanged);
            assign(chosenDriveID_, std::nullopt, &OnboardingModel::chosenDriveIDChanged);
        }
        assign(isMeasuring_, false, &OnboardingModel::isMeasuringChanged);
    }));
}

void OnboardingModel::confirmDrive() {
    assertMainThread();
    if (!measured_ || !profile_ || isMeasuring_ || isMarking_) return;
    if (drive_) {
        setStep(Step::space);
        return;
    }
    const DriveOption option = *measured_;
    assign(isMarking_, true, &OnboardingModel::isMarkingChanged);
    // Marking belongs to the pick it confirms: a later pick drops its outcome.
    driveController_.mark(option, pick_.replace<Drive>([this, option](EngineOutcome<Drive> outcome) {
        assign(isMarking_, false, &OnboardingModel::isMarkingChanged);
        if (outcome.succeeded()) {
            assign(drive_, *outcome.value, &OnboardingModel::driveChanged);
            setStep(Step::space);
            return;
        }
        measured_.reset();
        assign(measuredName_, std::nullopt, &OnboardingModel::profileChanged);
        assign(profile_, std::nullopt, &OnboardingModel::profileChanged);
        assign(driveRoot_, std::nullopt, &OnboardingModel::driveRootChanged);
        assign(driveError_, "Keldwick couldn't use " + option.volume.name + ": " + outcome.errorText(),
               &OnboardingModel::driveErrorChanged);
        assign(chosenDriveID_, std::nullopt, &OnboardingModel::chosenDriveIDChanged);
    }));
}

std::optional<std::string> OnboardingModel::finish() {
    assertMainThread();
    if (!drive_ || !profile_) return std::nullopt;
    std::vector<std::string> paths;
    for (const auto& folder : chosenFolders()) paths.push_back(folder.path);
    const int64_t keep = keepFreeBytes_;
    settings_.update(
        SettingsChanges::completeOnboarding(*drive_, *profile_, std::move(paths), keep, AppSettings::target(keep)));
    std::optional<std::string> loginProblem;
    try {
        settings_.setOpenAtLogin(openAtLogin_);
    } catch (const std::exception& e) {
        // The guide still finishes; the switch goes back to what really holds and the
        // user hears why.
        Log::error("app", std::string("Couldn't change the login item: ") + e.what());
        loginProblem = e.what();
        assign(openAtLogin_, !openAtLogin_, &OnboardingModel::openAtLoginChanged);
    }
    settings_.requestNotificationPermission();
    emit finished();
    return loginProblem;
}

}  // namespace keldwick
