#include "onboarding/OnboardingTexts.h"

#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "model/DisplayTexts.h"
#include "model/StatusTexts.h"
#include "scanning/AppSettings.h"

namespace keldwick {

namespace {
constexpr int64_t kGigabyte = 1'000'000'000;
}

std::optional<std::string> sandboxCommand(const HomeAccess::Sandbox& sandbox) {
    switch (sandbox.kind) {
    case HomeAccess::Sandbox::Kind::flatpak:
        return "flatpak override --user --filesystem=home " + sandbox.id;
    case HomeAccess::Sandbox::Kind::snap:
        return "snap connect " + sandbox.id + ":home";
    case HomeAccess::Sandbox::Kind::none:
        break;
    }
    return std::nullopt;
}

std::optional<std::string> sandboxStepText(const HomeAccess::Sandbox& sandbox) {
    const auto command = sandboxCommand(sandbox);
    if (!command) return std::nullopt;
    const std::string kind = sandbox.kind == HomeAccess::Sandbox::Kind::flatpak ? "Flatpak" : "Snap";
    // A Flatpak's permissions take effect at its next start; a Snap's connection at once.
    return "Keldwick runs in a **" + kind + "** sandbox. Give it your home folder: in a terminal, run `" + *command +
           (sandbox.kind == HomeAccess::Sandbox::Kind::flatpak ? "`, then start Keldwick again." : "`.");
}

std::string permissionBlockedText(const HomeAccess::Sandbox& sandbox) {
    const std::string why =
        "Keldwick can't open the folders in your home. That happens when it runs confined: in a Flatpak or Snap "
        "sandbox without access to your home folder, or under an AppArmor or SELinux rule. ";
    if (const auto command = sandboxCommand(sandbox))
        return why + "Give it access to your home folder (in a terminal: " + *command + "), then come back here.";
    return why + "Give it access to your home folder, then come back here.";
}

std::string driveNameOrDefault(const std::optional<Drive>& drive) {
    return drive ? drive->name : kYourDrive;
}

std::string spaceHeaderText(std::optional<int64_t> freeBytes, const std::optional<Drive>& drive) {
    std::string text;
    if (freeBytes) text = "Your computer has " + byteCountText(*freeBytes) + " free right now. ";
    return text + "When it drops below the amount you choose, Keldwick moves old files to " +
           driveNameOrDefault(drive) + " to make room.";
}

bool showsBelowLevelNote(std::optional<int64_t> freeBytes, int64_t keepFreeBytes) {
    return freeBytes && *freeBytes < keepFreeBytes;
}

std::string folderSummary(const std::vector<FolderChoice>& folders, const std::string& locale) {
    // The same list wording as the folders the program already searches.
    ModelState chosen;
    for (const auto& folder : folders)
        if (folder.isOn) chosen.settings.managedFolders.push_back(folder.path);
    if (chosen.settings.managedFolders.empty()) return "Choose at least one folder for Keldwick to look in.";
    return "Keldwick looks for old files in " + managedFolderNames(chosen, locale) + ".";
}

DriveStepStatus driveStepStatus(bool isMeasuring, const std::optional<std::string>& measuredName,
                                const std::optional<DriveProfile>& profile, const std::optional<std::string>& driveError) {
    if (isMeasuring)
        return {DriveStepStatus::Kind::measuring, "Checking the drive's speed (about 10 seconds)\u2026", ""};
    if (profile && measuredName) return {DriveStepStatus::Kind::ready, *measuredName + " is ready", profile->summary()};
    if (driveError) return {DriveStepStatus::Kind::failed, *driveError, ""};
    return {};
}

DoneTexts doneTexts(const ModelState& state, const std::optional<Drive>& drive, int64_t keepFreeBytes,
                    std::optional<int64_t> movableBytes) {
    const std::string name = driveNameOrDefault(drive);
    DoneTexts texts;
    texts.headerText = state.hasTray
                           ? "Keldwick lives in your system tray. Click its icon anytime to see how much space you "
                             "have, make room, or get files back."
                           : "This desktop has no tray, so Keldwick's panel opens as a window. Open Keldwick again "
                             "anytime to see how much space you have, make room, or get files back.";
    texts.levelTitle = "When your computer has less than " + gigabytesText(keepFreeBytes) + " free";
    texts.levelText = "Keldwick moves files you haven't used in a while to " + name +
                      ". The first time, it shows you the list and waits for your OK.";
    texts.keepTitle = "Keep " + name + " plugged in when you can";
    texts.keepText =
        "Files on it only open while it's connected. If the file manager ever says a file's original can't be "
        "found, just plug the drive back in.";
    if (movableBytes && *movableBytes >= kGigabyte)
        texts.movableText = byteCountText(*movableBytes) + " you haven't opened in " + minimumAgeText(state) +
                            " could move to " + name + " now.";
    return texts;
}

OnboardingBar onboardingBar(OnboardingModel::Step step, bool canContinue, bool canReadHome) {
    using Step = OnboardingModel::Step;
    OnboardingBar bar;
    bar.showsBack = step != Step::welcome;
    bar.showsLater = step == Step::homeAccess && !canReadHome;
    if (step == Step::done) {
        bar.primaryTitle = "Done";
        bar.primaryFinishes = true;
        return bar;
    }
    bar.primaryTitle = step == Step::welcome ? "Get Started" : "Continue";
    bar.primaryEnabled = canContinue && (step != Step::homeAccess || canReadHome);
    return bar;
}

std::optional<OnboardingModel::Step> movedStep(OnboardingModel::Step step, int offset) {
    auto moved = OnboardingModel::stepFromRaw(static_cast<int>(step) + offset);
    if (!moved || *moved == step) return std::nullopt;
    return moved;
}

namespace {

// A folder as the user knows it: inside the home with "~/", else whole, in quotes.
std::string shownFolder(const std::string& folder, const std::string& home) {
    const std::string path = PathUtil::isInside(folder, home) && folder != home
                                 ? "~/" + folder.substr(PathUtil::withoutTrailingSlashes(home).size() + 1)
                                 : folder;
    return "\u201c" + path + "\u201d";
}

}  // namespace

std::optional<std::string> showFolderAnswer(const FolderShowing& showing, const std::string& home,
                                            const HomeAccess::Sandbox& sandbox) {
    if (!showing.folder) return permissionBlockedText(sandbox);
    if (showing.shown) return std::nullopt;
    return "Nothing could show " + shownFolder(*showing.folder, home) +
           ": no file manager answered. Open it in your file manager yourself and, in its Properties, let "
           "yourself open it.";
}

std::optional<std::string> refusedByModeNote(const std::vector<std::string>& folders, const std::string& home) {
    if (folders.empty()) return std::nullopt;
    std::string names;
    for (size_t i = 0; i < folders.size(); ++i) {
        if (i > 0) names += i + 1 == folders.size() ? " and " : ", ";
        names += shownFolder(folders[i], home);
    }
    const bool one = folders.size() == 1;
    return names + (one ? " keeps" : " keep") + " you out by " + (one ? "its" : "their") +
           " own permissions, so Keldwick leaves " + (one ? "it" : "them") + " alone.";
}

}  // namespace keldwick
