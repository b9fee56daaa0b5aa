#pragma once
// The running program put together over its model: the tray panel's commands, quitting,
// and what arrives on the session bus, each reaching one model operation here. Windows register with `program().windows()`, each over a host the
// wiring keeps; a host lives as long as the windows that may use it.

#include <QCoreApplication>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "shell/Program.h"
#include "shell/QuitController.h"
#include "shell/TerminationSignal.h"
#include "shell/UpdatePrompts.h"

namespace keldwick {

class AppModel;
class InstanceBus;
class Updater;

// Every change the model's store announces calls `observer`'s modelChanged() slot.
void forwardChanges(AppModel& model, QObject& observer);

// Asks the running move, restore or recovery to stop after its current item.
void cancelRunning(AppModel& model);

// Quitting waits for a running move or restore; start-up recovery is left to run again at
// the next start. `quit` ends the event loop.
QuitController::Hooks quitHooks(AppModel& model, std::function<void()> quit);
// The tray panel's commands.
ModelHooks panelHooks(AppModel& model, Updater& updater, QuitController& quitter);

class ProgramWiring final {
public:
    // `model` and `updater` outlive the wiring. `quit` ends the program's event loop.
    ProgramWiring(AppModel& model, Updater& updater,
                  std::function<void()> quit = [] { QCoreApplication::quit(); });
    ~ProgramWiring();
    ProgramWiring(const ProgramWiring&) = delete;
    ProgramWiring& operator=(const ProgramWiring&) = delete;

    AppModel& model() { return model_; }
    Program& program() { return program_; }
    QuitController& quitter() { return quitter_; }

    // A window's host, made with `args` and kept until the program's windows are gone.
    template <class Host, class... Args>
    Host& host(Args&&... args) {
        auto made = std::make_unique<Host>(std::forward<Args>(args)...);
        Host& kept = *made;
        hosts_.push_back(std::move(made));
        return kept;
    }

    // A second launch brings the panel forward; a file manager's hand-over moves the
    // items it names.
    void listen(InstanceBus& instance);

    // SIGTERM quits as the panel's Quit does: a running move is stopped and waited for.
    void quitOnTermination();

    // Shows the icon (or, without a tray, the panel as a window), then starts the model.
    void start(std::optional<bool> trayAvailable = std::nullopt) { program_.start(trayAvailable); }

    // Moves `paths` (a launch's items) once the started model is first idle, after its
    // start-up recovery, rather than have the move refused as busy. Called after start().
    void moveWhenReady(std::vector<std::string> paths);

    // Quits so that `program` (an installed update) starts in this one's place, once no
    // files move or come back: a running operation is waited for, never cancelled.
    void relaunchWhenIdle(std::string program);
    // The program to start once the event loop has ended, if a relaunch was asked for.
    const std::optional<std::string>& relaunchProgram() const { return relaunch_; }
    UpdatePrompts& updatePrompts() { return *prompts_; }

private:
    AppModel& model_;
    QuitController quitter_;
    std::unique_ptr<TerminationSignal> termination_;
    std::optional<std::string> relaunch_;
    QMetaObject::Connection relaunchWaiting_;
    std::vector<std::unique_ptr<QObject>> hosts_;  // declared before the program: its windows go first
    Program program_;
    std::unique_ptr<UpdatePrompts> prompts_;
};

}  // namespace keldwick
