#pragma once
// The model's services as the running program provides them: notices over the session
// bus, the drive watcher and eject guard, dialogs of Qt Widgets, the autostart entry and
// desktop icon places through gio.

#include <optional>
#include <string>
#include <vector>

#include "model/AppServices.h"

namespace keldwick {

// QFileDialog (Qt's own widgets) with the "Show hidden files" checkbox when asked for.
// Folders, or files; a panel for both shows files and folders and accepts either.
class DialogFilePicker final : public FilePicker {
public:
    std::optional<std::vector<std::string>> pick(const PickRequest& request) override;
};

// A modal QMessageBox, the application brought to the front first.
class MessageAlerts final : public AlertPresenter {
public:
    void present(const std::string& message, const std::string& informative) override;
};

// The XDG autostart entry.
class AutostartLoginItem final : public LoginItem {
public:
    void set(bool on) override;
};

// Every service of the program. Main thread, with a QApplication.
AppServices desktopServices();

}  // namespace keldwick
