#include "onboarding/AppModelOnboardingHost.h"

#include "model/AppModel.h"

namespace keldwick {

// What the pages read of the model besides the guide's own fields.
AppModelOnboardingHost::AppModelOnboardingHost(AppModel& model, QObject* parent)
    : AppModelWindowHost(model,
                         ModelField::canReadHome | ModelField::foldersRefusedByMode | ModelField::computerFreeBytes | ModelField::settings |
                             ModelField::journalProblem,
                         parent) {
    connect(&model_.store(), &ModelStore::changed, this, [this](ModelFields fields) {
        if (fields.has(ModelField::mounts)) emit volumesChanged();
    });
}

OnboardingModel& AppModelOnboardingHost::onboarding() { return model_.onboarding(); }

void AppModelOnboardingHost::refreshHomeAccess() { model_.drives().refreshHomeAccess(); }

HomeAccess::Sandbox AppModelOnboardingHost::sandbox() const { return model_.services().facts.sandbox; }

FolderShowing AppModelOnboardingHost::openAccessSettings() { return model_.drives().openHomeAccessSettings(); }

void AppModelOnboardingHost::refreshDrives() { model_.onboarding().refreshDrives(); }

void AppModelOnboardingHost::choose(const DriveOption& option) { model_.onboarding().choose(option); }
void AppModelOnboardingHost::confirmDrive() { model_.onboarding().confirmDrive(); }

void AppModelOnboardingHost::loadFolders() { model_.onboarding().loadFolders(); }

void AppModelOnboardingHost::addFolder() { model_.onboarding().addFolder(); }

void AppModelOnboardingHost::estimateMovable() { model_.onboarding().estimateMovable(); }

void AppModelOnboardingHost::cancelEstimate() { model_.onboarding().cancelEstimate(); }

std::optional<std::string> AppModelOnboardingHost::finish() { return model_.onboarding().finish(); }

void AppModelOnboardingHost::showLoginItemProblem(const std::string& problem) {
    model_.services().alerts->present("Keldwick couldn't set itself to open when you log in", problem);
}

void AppModelOnboardingHost::openPreview() {
    model_.openPreview(PreviewKind::suggested, std::nullopt, std::nullopt, true);
}

}  // namespace keldwick
