#pragma once
// The model's open panel and alerts, shown with Qt's dialogs.

#include "model/ModelPorts.h"

namespace keldwick {

// Files and folders together go through FilesOrFoldersDialog (desktop dialogs pick one
// kind only); folders alone or files alone use Qt's dialog in that mode. The "Show hidden
// files" switch is there when asked for, and always for files and folders together.
class DialogFilePicker final : public FilePicker {
public:
    std::optional<std::vector<std::string>> pick(const PickRequest& request) override;
};

// A modal message box; every text shown as written.
class MessageBoxAlerts final : public AlertPresenter {
public:
    void present(const std::string& message, const std::string& informative) override;
};

}  // namespace keldwick
