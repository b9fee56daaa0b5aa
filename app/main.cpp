// The program: a tray icon over the model. A second launch hands over to the running
// instance, which shows its panel.

#include <QApplication>
#include <QEventLoop>
#include <QMetaMethod>
#include <cstdio>
#include <cstdlib>

#include "desktop/Updater.h"
#include "files/FilesWindow.h"
#include "files/HookedFilesHost.h"
#include "model/AppModel.h"
#include "preview/AppModelPreviewHost.h"
#include "preview/PreviewWindow.h"
#include "shell/DesktopServices.h"
#include "shell/InstanceBus.h"
#include "shell/Program.h"
#include "shell/QuitController.h"
#include "shell/Session.h"
#include "systemdata/SystemDataHost.h"
#include "systemdata/SystemDataWindow.h"
#include "ui/Symbols.h"

using namespace keldwick;

namespace {

// Every change the model announces reaches `observer`'s modelChanged().
void forwardChanges(AppModel& model, QObject& observer) {
    const QMetaObject& meta = AppModel::staticMetaObject;
    const QMetaMethod redraw = observer.metaObject()->method(observer.metaObject()->indexOfSlot("modelChanged()"));
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() != QMetaMethod::Signal || method.parameterCount() != 0) continue;
        QObject::connect(&model, method, &observer, redraw);
    }
}

// Every change the model announces redraws the tray; a queued window opens.
void follow(AppModel& model, Program& program) {
    forwardChanges(model, program);
    QObject::connect(&model, &AppModel::windowRequestsChanged, &program, &Program::windowRequestsChanged);
}

// The system data window over the model: its slow calls already run off the main thread.
class ModelSystemDataHost final : public SystemDataHost {
public:
    explicit ModelSystemDataHost(AppModel& model) : model_(model) {
        const QMetaObject& meta = AppModel::staticMetaObject;
        const QMetaMethod changed = QMetaMethod::fromSignal(&SystemDataHost::stateChanged);
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod method = meta.method(i);
            if (method.methodType() != QMetaMethod::Signal || method.parameterCount() != 0) continue;
            connect(&model_, method, this, changed);
        }
    }

    const ModelState& state() const override { return model_.state(); }
    Date now() const override { return model_.services().clock->now(); }
    void cacheLocations(std::function<void(std::vector<CacheLocation>)> done) override {
        model_.cacheLocations(std::move(done));
    }
    void clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done) override {
        model_.clearCaches(std::move(locations), std::move(done));
    }
    void findMovable(std::function<void(std::vector<MovableData>)> done) override {
        model_.movableSystemData(std::move(done));
    }
    void moveToDrive(std::vector<std::string> paths, std::function<void(std::optional<std::string>)> done) override {
        model_.moveToDrive(paths, std::move(done));
    }

private:
    AppModel& model_;
};

}  // namespace

int main(int argc, char** argv) {
    if (auto problem = sessionProblem([](const char* name) {
            const char* value = std::getenv(name);
            return std::string(value ? value : "");
        })) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keldwick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("keldwick"));
    // Closing a window never ends a tray program.
    QApplication::setQuitOnLastWindowClosed(false);
    Symbols::useDesktopIconTheme();

    InstanceBus instance;
    if (instance.claim() == InstanceBus::Claim::taken) {
        bool answered = false;
        QEventLoop waiting;
        instance.handOver([&](bool ok) {
            answered = ok;
            waiting.quit();
        });
        waiting.exec();
        if (answered) return 0;
        // Nobody answered for the name: start, and let the single-instance lock decide.
    }

    AppModel model(AppEnvironment::live(), desktopServices());
    Updater updater;

    QuitController quitter({[&] { return model.isBusy(); },
                            [&] {
                                if (const auto& flag = model.cancelFlag()) flag->cancel();
                            },
                            [] { QCoreApplication::quit(); }});

    ModelHooks hooks;
    hooks.state = [&]() -> const ModelState& { return model.state(); };
    hooks.start = [&] { model.start(); };
    hooks.refresh = [&] { model.refresh(); };
    hooks.clearWindowRequests = [&] { model.clearWindowRequests(); };
    hooks.requestWindow = [&](AppWindow window) { model.requestWindow(window); };
    hooks.showSettings = [&] { model.showSettings(); };
    hooks.setMoveAutomatically = [&](bool on) { model.togglePaused(on); };
    hooks.cancel = [&] {
        if (const auto& flag = model.cancelFlag()) flag->cancel();
    };
    hooks.freeUpSpace = [&] { model.openPreview(PreviewKind::manual, std::nullopt, std::nullopt, true); };
    hooks.chooseFilesToMove = [&] { model.chooseFilesToMove(); };
    hooks.checkForUpdates = [&] {
        if (updater.controller()) updater.controller()->checkForUpdates();
    };
    hooks.availableUpdate = [&]() -> std::optional<std::string> {
        if (!updater.availableUpdate()) return std::nullopt;
        return updater.availableUpdate()->toStdString();
    };
    hooks.quit = [&] { quitter.request(); };

    // Declared before the program: the windows it opens use it.
    AppModelPreviewHost previewHost(model);
    Program program(std::move(hooks));
    program.windows().add(AppWindow::preview, previewWindowEntry(previewHost));
    follow(model, program);

    FilesHooks files;
    files.state = [&]() -> const ModelState& { return model.state(); };
    files.driveStatus = [&](const OffloadRecord& record) { return model.driveStatus(record); };
    files.refresh = [&] { model.refresh(); };
    files.setFilesTab = [&](FilesTab tab) { model.setFilesTab(tab); };
    files.openPreview = [&] { model.openPreview(PreviewKind::manual, std::nullopt, std::nullopt, true); };
    files.cancel = [&] {
        if (const auto& flag = model.cancelFlag()) flag->cancel();
    };
    files.clearFilesProblem = [&] { model.clearFilesProblem(); };
    files.restoreRecords = [&](const std::vector<int64_t>& ids) { model.restoreRecord(ids); };
    files.restoreCopy = [&](int64_t id) { model.restoreCopy(id); };
    files.keepOnMac = [&](const std::vector<OffloadRecord>& records) { model.keepOnMac(records); };
    files.restoreAll = [&] { model.restoreAll(); };
    files.deleteDriveCopy = [&](const OffloadRecord& record) { model.deleteDriveCopy({record.id}); };
    files.moveToDrive = [&](const std::vector<std::string>& paths) { model.moveToDrive(paths); };
    files.chooseFilesToMove = [&] { model.chooseFilesToMove(); };
    HookedFilesHost filesHost(std::move(files));
    forwardChanges(model, filesHost);
    program.windows().add(AppWindow::offloaded, filesWindowEntry(filesHost));
    ModelSystemDataHost systemDataHost(model);
    program.windows().add(AppWindow::systemData, systemDataWindowEntry(systemDataHost));
    QObject::connect(&updater, &Updater::availableUpdateChanged, &program, &Program::modelChanged);
    QObject::connect(&instance, &InstanceBus::showPanelRequested, &program, &Program::showPanel);
    QObject::connect(&instance, &InstanceBus::moveRequested, &model,
                     [&](const std::vector<std::string>& paths) { model.moveToDrive(paths); });
    program.start();

    const int status = app.exec();
    // A worker still holds the journal and the engine: leave without destroying them
    // under it; the journal and start-up recovery settle what it was doing.
    if (model.isBusy()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
