#include "settings/AppModelSettingsHost.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>

#include "desktop/LoginItem.h"
#include "desktop/Updater.h"
#include "drives/DriveLayout.h"
#include "model/AppModel.h"

namespace keldwick {

AppModelSettingsHost::AppModelSettingsHost(AppModel& model, Updater& updater, QObject* parent)
    : AppModelWindowHost(model, {}, parent),
      updater_(updater),
      check_({[this]() -> const ModelState& { return model_.state(); },
              [this](const SettingsChange& change) { model_.settings().update(change); },
              [this](std::function<void()> work, std::function<void()> then) {
                  model_.work().run<bool>(
                      WorkPriority::user,
                      [work = std::move(work)] {
                          work();
                          return true;
                      },
                      [then = std::move(then)](EngineOutcome<bool>) { then(); });
              },
              model.services().driveSystem},
             this),
      files_(QDBusConnection::sessionBus(), {}, {}, this) {
    connect(&updater_, &Updater::canCheckForUpdatesChanged, this, &SettingsHost::stateChanged);
    connect(&check_, &DriveCheck::changed, this, &SettingsHost::stateChanged);
}

std::optional<std::string> AppModelSettingsHost::settingsProblem() const { return model_.state().settingsProblem; }

void AppModelSettingsHost::setSettingsTab(SettingsTab tab) { model_.setSettingsTab(tab); }

void AppModelSettingsHost::updateSettings(const SettingsChange& change) { model_.settings().update(change); }

RuleList AppModelSettingsHost::scanRules() const { return model_.scanRules(); }

std::optional<std::vector<std::string>> AppModelSettingsHost::pick(const PickRequest& request) {
    return model_.services().filePicker->pick(request);
}

void AppModelSettingsHost::pin(const std::vector<std::string>& paths) { model_.pin(paths); }

std::optional<std::string> AppModelSettingsHost::unpin(const std::string& path) {
    std::optional<std::string> problem;
    try {
        model_.journal()->unpin(path);
    } catch (const std::exception& e) {
        problem = e.what();
    }
    model_.reloadPins();
    return problem;
}

bool AppModelSettingsHost::loginItemEnabled() { return loginItemIsOn(); }

void AppModelSettingsHost::setLoginItem(bool on) { model_.settings().setOpenAtLogin(on); }

std::optional<std::string> AppModelSettingsHost::loginItemNote() {
    return keldwick::loginItemNote(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString());
}

UpdateFacts AppModelSettingsHost::updates() const {
    UpdateFacts facts;
    facts.isConfigured = updater_.isConfigured();
    facts.canCheck = updater_.canCheckForUpdates();
    facts.checksAutomatically = updater_.controller() && updater_.controller()->automaticallyChecksForUpdates();
    facts.versionText = appVersionText().toStdString();
    facts.downloadsAutomatically = updater_.controller() && updater_.controller()->automaticallyDownloadsUpdates();
    facts.canInstallItself = updater_.canInstallItself();
    facts.installProblem = updater_.installProblem();
    return facts;
}

void AppModelSettingsHost::setDownloadsUpdatesAutomatically(bool on) {
    if (updater_.controller()) updater_.controller()->setAutomaticallyDownloadsUpdates(on);
}

void AppModelSettingsHost::setChecksForUpdatesAutomatically(bool on) {
    if (updater_.controller()) updater_.controller()->setAutomaticallyChecksForUpdates(on);
}

void AppModelSettingsHost::checkForUpdates() {
    if (updater_.controller()) updater_.controller()->checkForUpdates();
}

DriveWork AppModelSettingsHost::driveWork() const { return check_.work(); }

bool AppModelSettingsHost::useDrive(const DriveOption& option) { return check_.useDrive(option); }

bool AppModelSettingsHost::checkSpeed() { return check_.checkSpeed(); }

void AppModelSettingsHost::listDrives(std::function<void(std::vector<DriveOption>)> done) {
    QPointer<AppModelSettingsHost> self(this);
    model_.drives().listOptions([self, done = std::move(done)](EngineOutcome<std::vector<DriveOption>> outcome) {
        if (self && done) done(outcome.value.value_or(std::vector<DriveOption>{}));
    });
}

void AppModelSettingsHost::showDriveFolder() {
    if (const auto& root = model_.state().driveRoot) files_.showFolders({DriveLayout::appFolder(*root)});
}

}  // namespace keldwick
