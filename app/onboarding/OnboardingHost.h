#pragma once
// What the first-run guide and the permission window ask of the program's model besides
// its state and clock: the guide's choices (the one OnboardingModel, read and written
// directly), and the operations that need the model. The program hands an
// AppModelOnboardingHost; tests hand a scripted stand-in. Main thread only.

#include <optional>
#include <string>

#include "foundation/HomeAccess.h"
#include "model/DriveController.h"
#include "model/OnboardingModel.h"
#include "ui/WindowHost.h"

namespace keldwick {

class OnboardingHost : public WindowHost {
    Q_OBJECT

public:
    using WindowHost::WindowHost;
    ~OnboardingHost() override = default;

    virtual OnboardingModel& onboarding() = 0;

    // Probes whether the program can reach the user's folders; stateChanged follows a change.
    virtual void refreshHomeAccess() = 0;
    // The sandbox the program runs in, whose command the instructions give.
    virtual HomeAccess::Sandbox sandbox() const = 0;
    // Shows the folder that refuses access in the file manager: which folder, and whether
    // anything showed it.
    virtual FolderShowing openAccessSettings() = 0;

    // Lists the drives again; the list arrives in onboarding().drives().
    virtual void refreshDrives() = 0;
    virtual void choose(const DriveOption& option) = 0;
    // Continue on the drive page: the measured pick becomes the drive.
    virtual void confirmDrive() = 0;
    virtual void loadFolders() = 0;
    virtual void addFolder() = 0;
    virtual void estimateMovable() = 0;
    // The page that wanted the estimate went away.
    virtual void cancelEstimate() = 0;

    // Writes every choice in one settings change and starts the program's work. Gives the
    // sentence of a login item that could not be set (the switch is then set back).
    virtual std::optional<std::string> finish() = 0;
    // Tells the user the login item could not be set, once the guide has closed.
    virtual void showLoginItemProblem(const std::string& problem) = 0;
    // The preview of everything worth moving, in its window.
    virtual void openPreview() = 0;

signals:
    // A volume was mounted or unmounted.
    void volumesChanged();
};

}  // namespace keldwick
