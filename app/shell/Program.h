#pragma once
// The running program's desktop side: the tray icon with its panel, the window registry,
// and what the panel's commands do to the model. The model is reached through hooks so
// the wiring is tested with a model of the test's own.

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tray/PopoverRows.h"
#include "tray/TrayIcon.h"
#include "model/AppWindow.h"
#include "model/ModelState.h"
#include "ui/WindowRegistry.h"

namespace keldwick {

class TrayPanel;

struct ModelHooks {
    std::function<const ModelState&()> state;
    std::function<Date()> now;  // the model's clock
    std::function<void(bool hasTray)> start;  // once, after the icon exists or the desktop had no tray
    std::function<void()> refresh;  // each time the panel opens
    std::function<void()> clearWindowRequests;
    std::function<void(AppWindow)> requestWindow;
    std::function<void()> showSettings;
    std::function<void(bool moveAutomatically)> setMoveAutomatically;
    std::function<void()> cancel;  // the running operation's cancel flag, when there is one
    std::function<void()> freeUpSpace;
    std::function<void()> chooseFilesToMove;
    std::function<void()> checkForUpdates;
    std::function<std::optional<std::string>()> availableUpdate;
    std::function<void()> quit;
};

class Program final : public QObject {
    Q_OBJECT

public:
    explicit Program(ModelHooks hooks, QObject* parent = nullptr);
    ~Program() override;

    // Shows the tray icon (or, without a tray, the panel as a window), then starts the
    // model, once. `trayAvailable` stands in for the desktop's answer in tests.
    void start(std::optional<bool> trayAvailable = std::nullopt);

    WindowRegistry& windows() { return windows_; }
    TrayIcon& tray() { return *tray_; }
    TrayPanel* openPanel() const;

public slots:
    // The model changed: redraw the glyph and the open panel, soon (once for many changes).
    void modelChanged();
    // Redraws now.
    void update();
    // The model queued windows: open them.
    void windowRequestsChanged();
    // A second launch, or a click: bring the panel forward.
    void showPanel();
    void run(PanelCommand command);

private:
    PanelContents contents() const;

    ModelHooks hooks_;
    WindowRegistry windows_;
    std::unique_ptr<TrayIcon> tray_;
    bool started_ = false;
    bool updatePending_ = false;
};

}  // namespace keldwick
