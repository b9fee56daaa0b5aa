// The program: a tray icon over the model. A second launch hands over to the running
// instance, which shows its panel.

#include <QApplication>
#include <QEventLoop>
#include <QMetaMethod>
#include <cstdio>
#include <cstdlib>

#include "desktop/Updater.h"
#include "files/FilesWindow.h"
#include "model/AppModel.h"
#include "preview/AppModelPreviewHost.h"
#include "preview/PreviewWindow.h"
#include "shell/DesktopServices.h"
#include "shell/InstanceBus.h"
#include "shell/ProgramWiring.h"
#include "shell/Session.h"
#include "systemdata/SystemDataHost.h"
#include "systemdata/SystemDataWindow.h"
#include "ui/Symbols.h"

using namespace keldwick;

namespace {

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
    ProgramWiring wiring(model, updater);
    WindowRegistry& windows = wiring.program().windows();
    windows.add(AppWindow::preview, previewWindowEntry(wiring.host<AppModelPreviewHost>(model)));
    windows.add(AppWindow::offloaded, filesWindowEntry(wiring.host<HookedFilesHost>(filesHooks(model))));
    windows.add(AppWindow::systemData, systemDataWindowEntry(wiring.host<ModelSystemDataHost>(model)));
    wiring.listen(instance);
    wiring.start();

    const int status = app.exec();
    // A worker still holds the journal and the engine: leave without destroying them
    // under it; the journal and start-up recovery settle what it was doing.
    if (model.isBusy()) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
