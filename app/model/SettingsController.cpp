// The one settings write path and its named changes.

#include "model/SettingsController.h"

#include "model/MainThread.h"

namespace keldwick {

namespace {

constexpr const char* firstRunDeclinedKey = "firstRunDeclinedAt";

}  // namespace

SettingsController::SettingsController(ModelStore& store, std::string file, std::shared_ptr<NoticePosting> notifier,
                                       std::shared_ptr<Preferences> preferences,
                                       std::shared_ptr<LoginItem> loginItem, QObject* parent)
    : QObject(parent),
      store_(store),
      file_{std::move(file)},
      notifier_(std::move(notifier)),
      preferences_(std::move(preferences)),
      loginItem_(std::move(loginItem)) {}

void SettingsController::load() {
    assertMainThread();
    store_.edit(ModelField::settings | ModelField::settingsSetAside,
                [this](ModelState& state) { state.settings = file_.load(&state.settingsSetAside); });
}

void SettingsController::update(const SettingsChange& change) {
    assertMainThread();
    const AppSettings old = store_.state().settings;
    AppSettings now = applySettingsChange(old, change);
    // A failed save keeps the change in memory (the next write saves it again) and stays
    // visible until a save succeeds, so settings are never lost unnoticed.
    std::optional<std::string> problem;
    try {
        file_.save(now);
    } catch (const std::exception& e) {
        problem = e.what();
    }
    store_.set<ModelField::settingsProblem>(std::move(problem));
    store_.set<ModelField::settings>(now);
    const ModelState& state = store_.state();
    notifier_->isEnabled = state.settings.notificationsEnabled;
    emit followUps(settingsFollowUps(old, state.settings, state.started));
}

void SettingsController::approveAutomaticRuns() { update(SettingsChanges::approveAutomaticRuns()); }
void SettingsController::togglePaused(bool moveAutomatically) {
    update(SettingsChanges::togglePaused(moveAutomatically));
}
void SettingsController::setDriveVolumeUUID(const std::optional<std::string>& uuid) {
    update(SettingsChanges::setDriveVolumeUUID(uuid));
}

std::optional<Date> SettingsController::firstRunDeclinedAt() const {
    assertMainThread();
    auto stored = preferences_->value(firstRunDeclinedKey);
    if (!stored) return std::nullopt;
    return Date::parseISO8601(*stored);
}

void SettingsController::setFirstRunDeclinedAt(std::optional<Date> date) {
    assertMainThread();
    preferences_->setValue(firstRunDeclinedKey, date ? std::optional<std::string>(date->iso8601()) : std::nullopt);
}

void SettingsController::setOpenAtLogin(bool on) {
    assertMainThread();
    loginItem_->set(on);
}

void SettingsController::requestNotificationPermission(std::function<void()> done) {
    assertMainThread();
    if (done) done();
}

}  // namespace keldwick
