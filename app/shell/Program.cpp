#include "shell/Program.h"

#include <QTimer>

#include "model/MainThread.h"
#include "tray/TrayPanel.h"

namespace keldwick {

Program::Program(ModelHooks hooks, QObject* parent) : QObject(parent), hooks_(std::move(hooks)) {
    tray_ = std::make_unique<TrayIcon>(
        TrayIcon::Model{hooks_.state, hooks_.clearWindowRequests}, windows_, [this] {
            auto* panel = new TrayPanel;
            panel->onCommand = [this](PanelCommand command) { run(command); };
            panel->onSwitch = [this](bool on) {
                if (hooks_.setMoveAutomatically) hooks_.setMoveAutomatically(on);
            };
            return panel;
        });
    // Each opening reads the world afresh, then shows it.
    connect(tray_.get(), &TrayIcon::panelShown, this, [this] {
        if (hooks_.refresh) hooks_.refresh();
        update();
    });
}

Program::~Program() = default;

TrayPanel* Program::openPanel() const { return qobject_cast<TrayPanel*>(tray_->panel()); }

void Program::start(std::optional<bool> trayAvailable) {
    assertMainThread();
    if (started_) return;
    started_ = true;
    const bool hasTray = tray_->show(trayAvailable);
    if (hooks_.start) hooks_.start(hasTray);
    if (!hasTray) tray_->showPanel();
    update();
}

PanelContents Program::contents() const {
    return panel(hooks_.state(), hooks_.availableUpdate ? hooks_.availableUpdate() : std::nullopt, hooks_.now());
}

void Program::modelChanged() {
    // Many fields change together (and progress often): redraw once per turn of the loop.
    if (updatePending_) return;
    updatePending_ = true;
    QTimer::singleShot(0, this, &Program::update);
}

void Program::update() {
    updatePending_ = false;
    tray_->refresh();
    if (TrayPanel* panel = openPanel()) panel->show(contents());
}

void Program::windowRequestsChanged() { tray_->openRequestedWindows(); }

void Program::showPanel() { tray_->showPanel(); }

void Program::run(PanelCommand command) {
    assertMainThread();
    if (command == PanelCommand::stop) {
        if (hooks_.cancel) hooks_.cancel();
        return;
    }
    // A popup panel goes away before a window or the picker comes up; a panel that is
    // the program's window stays.
    if (tray_->hasTray() && tray_->panel()) tray_->panel()->close();
    auto call = [](const std::function<void()>& hook) {
        if (hook) hook();
    };
    auto request = [this](AppWindow window) {
        if (hooks_.requestWindow) hooks_.requestWindow(window);
    };
    // Queued: the panel finishes closing before a modal picker or a window takes over.
    QTimer::singleShot(0, this, [this, command, call, request] {
        switch (command) {
        case PanelCommand::none:
        case PanelCommand::stop:
            break;
        case PanelCommand::setUp:
            request(AppWindow::onboarding);
            break;
        case PanelCommand::givePermission:
            request(AppWindow::permission);
            break;
        case PanelCommand::freeUpSpace:
            call(hooks_.freeUpSpace);
            break;
        case PanelCommand::moveFiles:
            call(hooks_.chooseFilesToMove);
            break;
        case PanelCommand::systemData:
            request(AppWindow::systemData);
            break;
        case PanelCommand::showFiles:
            request(AppWindow::offloaded);
            break;
        case PanelCommand::update:
            call(hooks_.checkForUpdates);
            break;
        case PanelCommand::settings:
            call(hooks_.showSettings);
            break;
        case PanelCommand::quit:
            call(hooks_.quit);
            break;
        }
    });
}

}  // namespace keldwick
