#pragma once
// What the user sees of an update: a found update offered for installing (or, where the
// program can't replace itself, its download page), a failed install, and, once a new
// version is in place, the offer to relaunch into it. Each is a window of its own that
// doesn't block the program; the texts come from plain functions.

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <string>

#include "desktop/Appcast.h"

namespace keldwick {

class UpdateController;

struct UpdatePromptTexts {
    std::string title;        // the window's title
    std::string message;
    std::string informative;
    std::string accept;       // the button that goes ahead
    std::string later;        // the button that leaves it
    bool operator==(const UpdatePromptTexts&) const = default;
};

UpdatePromptTexts foundUpdateTexts(const std::string& displayVersion, bool canInstall);
UpdatePromptTexts installedUpdateTexts(const std::string& displayVersion);
UpdatePromptTexts failedInstallTexts(const std::string& reason);
// The user's own check: up to date, or why it failed.
UpdatePromptTexts upToDateTexts(const std::string& version);
UpdatePromptTexts failedCheckTexts(const std::string& reason);

class UpdatePrompts final : public QObject {
    Q_OBJECT

public:
    // `relaunch` starts the program at the given path in place of this one. `controller`
    // outlives the prompts.
    UpdatePrompts(UpdateController& controller, std::function<void(const QString& program)> relaunch,
                  std::string runningVersion,
                  QObject* parent = nullptr);
    ~UpdatePrompts() override;

    // The prompt on screen, if any.
    QMessageBox* shown() const { return box_; }

private:
    void show(const UpdatePromptTexts& texts, std::function<void()> accepted, std::function<void()> declined);

    UpdateController& controller_;
    std::function<void(const QString&)> relaunch_;
    std::string runningVersion_;
    QPointer<QMessageBox> box_;
};

}  // namespace keldwick
