#include "model/StartupController.h"

#include <QLoggingCategory>
#include <memory>

#include "model/MainThread.h"
#include "model/StatusTexts.h"

Q_LOGGING_CATEGORY(keldwickStartupLog, "com.orvandel.Keldwick.startup")

namespace keldwick {

StartupController::StartupController(ModelStore& store, const AppServices& services, DriveController& drives,
                                     OperationsController& operations, CheckController& checks, Steps& steps)
    : store_(store), services_(services), drives_(drives), operations_(operations), checks_(checks), steps_(steps) {}

StartupController::~StartupController() {
    if (!hooked_) return;
    // From now on the services call into nothing, and every unmount goes ahead.
    services_.notifier->onOpen = nullptr;
    services_.watcher->onVolumesChanged = nullptr;
    services_.watcher->onDiskChanged = nullptr;
    services_.watcher->onWake = nullptr;
    services_.ejectGuard->shouldRefuse = nullptr;
    services_.ejectGuard->postNotice = nullptr;
}

void StartupController::start(bool holdsInstanceLock) {
    assertMainThread();
    const ModelState& state = store_.state();
    if (state.started) return;
    store_.set<ModelField::started>(true);

    if (!holdsInstanceLock) {
        const MenuStatus alert = alreadyRunningAlert(state.hasTray);
        services_.alerts->present(alert.headline, alert.detail.value_or(""));
        if (services_.terminate) services_.terminate();
        return;
    }
    hookServices();

    if (state.settingsSetAside) {
        const MenuStatus setAside = settingsSetAsideStatus();
        steps_.post(Notice{setAside.headline, setAside.detail.value_or(""), NoticeTarget::menu, std::nullopt});
    }
    if (services_.preferences && services_.preferences->wasSetAside()) {
        const MenuStatus setAside = preferencesSetAsideStatus();
        steps_.post(Notice{setAside.headline, setAside.detail.value_or(""), NoticeTarget::menu, std::nullopt});
    }
    steps_.refreshNow();
    drives_.watchDriveWake();
    if (!state.settings.onboardingComplete) steps_.requestWindow(AppWindow::onboarding);

    operations_.recoverInterrupted([this] {
        checks_.scheduleCheck(CheckController::firstCheckDelay);
        // Start-up work ends with the check that follows recovery; said once, so that one
        // watching the program (its benchmark) knows it is at rest from then on.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = QObject::connect(&store_, &ModelStore::changed, &store_, [&store = store_, once](ModelFields fields) {
            if (!fields.has(ModelField::isChecking) || store.state().isChecking) return;
            QObject::disconnect(*once);
            qCInfo(keldwickStartupLog) << "Start-up recovery and the first check are done";
        });
    });
}

void StartupController::hookServices() {
    hooked_ = true;
    auto& notifier = *services_.notifier;
    notifier.isEnabled = store_.state().settings.notificationsEnabled;
    notifier.onOpen = [this](NoticeTarget target) { steps_.openTarget(target); };

    auto& watcher = *services_.watcher;
    watcher.onVolumesChanged = [this] { drives_.volumesChanged(); };
    watcher.onDiskChanged = [this](const std::string& kernelName, const std::optional<DiskVolume>& volume) {
        drives_.diskChanged(kernelName, volume);
    };
    watcher.onWake = [this] { checks_.scheduleCheck(CheckController::afterWakeCheckDelay); };
    watcher.start();

    auto& guard = *services_.ejectGuard;
    guard.shouldRefuse = [this](const std::string& path) { return operations_.shouldRefuseEject(path); };
    guard.postNotice = [this](const std::string& text) {
        steps_.post(Notice{"Keldwick is using " + driveDisplayName(store_.state()), text, NoticeTarget::menu, std::nullopt});
    };
    guard.start();
}

}  // namespace keldwick
