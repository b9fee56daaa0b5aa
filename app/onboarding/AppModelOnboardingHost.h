#pragma once
// The guide's host in the running program: the program's model itself. Only the changes
// the pages show redraw them.

#include "onboarding/OnboardingHost.h"
#include "ui/AppModelWindowHost.h"

namespace keldwick {

class AppModelOnboardingHost final : public AppModelWindowHost<OnboardingHost> {
    Q_OBJECT

public:
    // `model` outlives the host.
    explicit AppModelOnboardingHost(AppModel& model, QObject* parent = nullptr);

    OnboardingModel& onboarding() override;
    void refreshHomeAccess() override;
    HomeAccess::Sandbox sandbox() const override;
    FolderShowing openAccessSettings() override;
    void refreshDrives() override;
    void choose(const DriveOption& option) override;
    void confirmDrive() override;
    void loadFolders() override;
    void addFolder() override;
    void estimateMovable() override;
    void cancelEstimate() override;
    std::optional<std::string> finish() override;
    void showLoginItemProblem(const std::string& problem) override;
    void openPreview() override;
};

}  // namespace keldwick
