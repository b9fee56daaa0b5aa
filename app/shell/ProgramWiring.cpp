#include "shell/ProgramWiring.h"

#include <QFile>
#include <QMetaMethod>

#include "desktop/Updater.h"
#include "model/AppModel.h"
#include "shell/InstanceBus.h"

namespace keldwick {

void forwardChanges(AppModel& model, QObject& observer) {
    const QMetaObject& seen = *observer.metaObject();
    QObject::connect(&model.store(), QMetaMethod::fromSignal(&ModelStore::changed), &observer,
                     seen.method(seen.indexOfSlot("modelChanged()")));
}

void cancelRunning(AppModel& model) {
    if (auto* job = model.operations().currentJob()) job->cancel();
}

QuitController::Hooks quitHooks(AppModel& model, std::function<void()> quit) {
    // Moves and restores stop after their current item and are waited for; start-up
    // recovery can't be stopped midway and is left as it is, to run again at the next
    // start, so that quitting while it runs is prompt.
    auto stoppable = [&model] { return model.isBusy() && model.state().activity != Activity::recovering; };
    return {stoppable, [&model] { cancelRunning(model); }, std::move(quit)};
}

ModelHooks panelHooks(AppModel& model, Updater& updater, QuitController& quitter) {
    ModelHooks hooks;
    hooks.state = [&model]() -> const ModelState& { return model.state(); };
    hooks.now = [&model] { return model.services().clock->now(); };
    hooks.start = [&model](bool hasTray) {
        model.setHasTray(hasTray);
        model.start();
    };
    hooks.refresh = [&model] { model.refresh(); };
    hooks.clearWindowRequests = [&model] { model.clearWindowRequests(); };
    hooks.requestWindow = [&model](AppWindow window) { model.requestWindow(window); };
    hooks.showSettings = [&model] { model.showSettings(); };
    hooks.setMoveAutomatically = [&model](bool on) { model.settings().togglePaused(on); };
    hooks.cancel = [&model] { cancelRunning(model); };
    hooks.freeUpSpace = [&model] { model.openPreview(PreviewKind::manual, std::nullopt, std::nullopt, true); };
    hooks.chooseFilesToMove = [&model] { model.chooseFilesToMove(); };
    hooks.checkForUpdates = [&updater] {
        if (updater.controller()) updater.controller()->checkForUpdates();
    };
    hooks.availableUpdate = [&updater]() -> std::optional<std::string> {
        if (!updater.availableUpdate()) return std::nullopt;
        return updater.availableUpdate()->toStdString();
    };
    hooks.quit = [&quitter] { quitter.request(); };
    return hooks;
}

ProgramWiring::~ProgramWiring() = default;

ProgramWiring::ProgramWiring(AppModel& model, Updater& updater, std::function<void()> quit)
    : model_(model), quitter_(quitHooks(model, std::move(quit))), program_(panelHooks(model, updater, quitter_)) {
    forwardChanges(model_, program_);
    QObject::connect(&model_.store(), &ModelStore::changed, &program_, [this](ModelFields fields) {
        if (fields.has(ModelField::windowRequests)) program_.windowRequestsChanged();
    });
    QObject::connect(&updater, &Updater::availableUpdateChanged, &program_, &Program::modelChanged);
    QObject::connect(&model_, &AppModel::panelRequested, &program_, &Program::showPanel);
    prompts_ = std::make_unique<UpdatePrompts>(
        *updater.controller(),
        [this](const QString& program) { relaunchWhenIdle(QFile::encodeName(program).toStdString()); },
        buildConfiguration().version.toStdString());
}

void ProgramWiring::relaunchWhenIdle(std::string program) {
    QObject::disconnect(relaunchWaiting_);
    // Set only as this quit begins: a Quit of the user's own meanwhile starts nothing.
    auto attempt = [this, program = std::move(program)] {
        if (model_.isBusy() || model_.state().activity != Activity::idle) return;
        QObject::disconnect(relaunchWaiting_);
        relaunch_ = program;
        quitter_.request();
    };
    relaunchWaiting_ =
        QObject::connect(&model_.store(), &ModelStore::changed, &program_, [attempt](ModelFields fields) {
            if (fields.has(ModelField::activity)) attempt();
        });
    attempt();
}

void ProgramWiring::listen(InstanceBus& instance) {
    QObject::connect(&instance, &InstanceBus::showPanelRequested, &program_, &Program::showPanel);
    // Items handed over while something else runs move after it, as a launch's do: a run
    // refused as busy would drop them without a word.
    QObject::connect(&instance, &InstanceBus::moveRequested, &model_,
                     [this](const std::vector<std::string>& paths) { moveWhenReady(paths); });
}

void ProgramWiring::quitOnTermination() {
    termination_ = std::make_unique<TerminationSignal>();
    QObject::connect(termination_.get(), &TerminationSignal::received, &program_, [this] { quitter_.request(); });
}

void ProgramWiring::moveWhenReady(std::vector<std::string> paths) {
    if (paths.empty()) return;
    auto waiting = std::make_shared<QMetaObject::Connection>();
    auto attempt = [this, paths = std::move(paths), waiting] {
        if (!model_.state().started || model_.state().activity != Activity::idle) return;
        QObject::disconnect(*waiting);
        model_.moveToDrive(paths);
    };
    *waiting = QObject::connect(&model_.store(), &ModelStore::changed, &program_, [attempt](ModelFields fields) {
        if (fields.has(ModelField::activity)) attempt();
    });
    attempt();
}

}  // namespace keldwick
