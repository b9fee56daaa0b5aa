#include <gtest/gtest.h>

#include "model/DisplayTexts.h"
#include "model/ModelStateFixtures.h"
#include "model/StatusTexts.h"
#include "onboarding/OnboardingTexts.h"

namespace keldwick {
namespace {

constexpr int64_t GB = 1'000'000'000;
using Step = OnboardingModel::Step;

TEST(SpacePageTexts, HeaderAndNote) {
    const Drive archive{"6F1C2A5E-0000-4000-8000-000000000001", "Archive"};
    EXPECT_EQ(spaceHeaderText(std::nullopt, std::nullopt),
              "When it drops below the amount you choose, Keldwick moves old files to your drive to make room.");
    EXPECT_EQ(spaceHeaderText(15 * GB, archive),
              "Your computer has 15.0 GB free right now. When it drops below the amount you choose, Keldwick moves old "
              "files to Archive to make room.");
    struct Case {
        std::optional<int64_t> free;
        int64_t keep;
        bool note;
    };
    for (const auto& c : {Case{std::nullopt, 20 * GB, false}, Case{15 * GB, 20 * GB, true},
                          Case{20 * GB, 20 * GB, false}, Case{50 * GB, 20 * GB, false}})
        EXPECT_EQ(showsBelowLevelNote(c.free, c.keep), c.note) << c.free.value_or(-1);
}

TEST(SpacePageTexts, FolderSummary) {
    auto folder = [](std::string path, bool on) { return FolderChoice{std::move(path), on, std::nullopt}; };
    struct Case {
        std::vector<FolderChoice> folders;
        std::string summary;
    };
    const Case cases[] = {
        {{}, "Choose at least one folder for Keldwick to look in."},
        {{folder("/h/Downloads", false), folder("/h/Desktop", false)},
         "Choose at least one folder for Keldwick to look in."},
        {{folder("/h/Downloads", true), folder("/h/Desktop", false)}, "Keldwick looks for old files in Downloads."},
        {{folder("/h/Downloads", true), folder("/h/Desktop", true)},
         "Keldwick looks for old files in Downloads and Desktop."},
        {{folder("/h/Downloads", true), folder("/h/Desktop", true), folder("/h/Documents", true)},
         "Keldwick looks for old files in Downloads, Desktop, and Documents."},
    };
    for (const auto& c : cases) EXPECT_EQ(folderSummary(c.folders, "en_US"), c.summary);
    EXPECT_EQ(folderProblemText("Folder not found"), "Keldwick leaves this folder alone: Folder not found.");
}

TEST(DrivePageTexts, StatusLine) {
    const std::optional<std::string> drive = "Backup";
    const DriveProfile profile;
    const std::string error = "Keldwick couldn't use Backup: Read-only file system";
    using Kind = DriveStepStatus::Kind;
    // Measuring wins over a held drive and an earlier error; a profile over an error.
    EXPECT_EQ(driveStepStatus(true, drive, profile, error).kind, Kind::measuring);
    EXPECT_EQ(driveStepStatus(true, std::nullopt, std::nullopt, std::nullopt).title,
              "Checking the drive's speed (about 10 seconds)\u2026");
    EXPECT_EQ(driveStepStatus(false, drive, profile, std::nullopt),
              (DriveStepStatus{Kind::ready, "Backup is ready", profile.summary()}));
    EXPECT_EQ(driveStepStatus(false, drive, std::nullopt, error), (DriveStepStatus{Kind::failed, error, ""}));
    EXPECT_EQ(driveStepStatus(false, std::nullopt, std::nullopt, std::nullopt).kind, Kind::none);
}

TEST(DonePageTexts, DriveNameAndMovableBox) {
    ModelState state = test::readyState();
    const Drive archive{"6F1C2A5E-0000-4000-8000-000000000001", "Archive"};
    const DoneTexts none = doneTexts(state, std::nullopt, 20 * GB, std::nullopt);
    EXPECT_EQ(none.levelTitle, "When your computer has less than 20 GB free");
    EXPECT_EQ(none.levelText, "Keldwick moves files you haven't used in a while to your drive. The first time, it "
                              "shows you the list and waits for your OK.");
    EXPECT_EQ(none.keepTitle, "Keep your drive plugged in when you can");
    EXPECT_FALSE(none.movableText);
    struct Case {
        std::optional<int64_t> movable;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt},
        {999'999'999, std::nullopt},
        {GB, "1.00 GB you haven't opened in " + minimumAgeText(state) + " could move to Archive now."},
    };
    for (const auto& c : cases) EXPECT_EQ(doneTexts(state, archive, 20 * GB, c.movable).movableText, c.text);
    EXPECT_EQ(doneTexts(state, archive, 20 * GB, std::nullopt).keepTitle, "Keep Archive plugged in when you can");

    // Where to find the program: its tray icon, or, on a desktop without a tray, its window.
    EXPECT_EQ(none.headerText, "Keldwick lives in your system tray. Click its icon anytime to see how much space you "
                               "have, make room, or get files back.");
    state.hasTray = false;
    EXPECT_EQ(doneTexts(state, archive, 20 * GB, std::nullopt).headerText,
              "This desktop has no tray, so Keldwick's panel opens as a window. Open Keldwick again anytime to see "
              "how much space you have, make room, or get files back.");
}

TEST(OnboardingBarTest, EachStep) {
    struct Case {
        Step step;
        bool canContinue;
        bool access;
        OnboardingBar bar;
    };
    const Case cases[] = {
        {Step::welcome, true, false, {false, false, "Get Started", true, false}},
        {Step::homeAccess, true, false, {true, true, "Continue", false, false}},
        {Step::homeAccess, true, true, {true, false, "Continue", true, false}},
        {Step::drive, false, true, {true, false, "Continue", false, false}},
        {Step::drive, true, false, {true, false, "Continue", true, false}},
        {Step::space, false, true, {true, false, "Continue", false, false}},
        {Step::done, false, false, {true, false, "Done", true, true}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(onboardingBar(c.step, c.canContinue, c.access), c.bar) << static_cast<int>(c.step);
}

TEST(OnboardingBarTest, MovesOneStepWithinTheEnds) {
    struct Case {
        Step from;
        int offset;
        std::optional<Step> to;
    };
    const Case cases[] = {
        {Step::welcome, -1, std::nullopt}, {Step::welcome, 1, Step::homeAccess},
        {Step::done, 1, std::nullopt},     {Step::done, -1, Step::space},
        {Step::drive, 0, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(movedStep(c.from, c.offset), c.to) << static_cast<int>(c.from);
}

// Only in a sandbox is its command given, and it names this program alone: an override
// without the application id would open the home to every Flatpak.
TEST(PermissionTextsTest, TheSandboxsOwnCommandNamesTheProgram) {
    using Kind = HomeAccess::Sandbox::Kind;
    const HomeAccess::Sandbox flatpak{Kind::flatpak, "com.orvandel.Keldwick"}, snap{Kind::snap, "keldwick"};
    EXPECT_EQ(sandboxCommand({}), std::nullopt);
    EXPECT_EQ(sandboxStepText({}), std::nullopt);
    EXPECT_EQ(sandboxCommand(flatpak), "flatpak override --user --filesystem=home com.orvandel.Keldwick");
    EXPECT_EQ(sandboxCommand(snap), "snap connect keldwick:home");
    EXPECT_EQ(sandboxStepText(flatpak),
              "Keldwick runs in a **Flatpak** sandbox. Give it your home folder: in a terminal, run `flatpak override "
              "--user --filesystem=home com.orvandel.Keldwick`, then start Keldwick again.");
    EXPECT_EQ(sandboxStepText(snap),
              "Keldwick runs in a **Snap** sandbox. Give it your home folder: in a terminal, run `snap connect "
              "keldwick:home`.");
    for (const auto& sandbox : {flatpak, snap}) {
        const std::string blocked = permissionBlockedText(sandbox);
        EXPECT_NE(blocked.find("(in a terminal: " + *sandboxCommand(sandbox) + ")"), std::string::npos) << blocked;
        EXPECT_EQ(showFolderAnswer({}, "/home/u", sandbox), blocked);
    }
    EXPECT_EQ(permissionBlockedText({}).find("flatpak override"), std::string::npos);
}

TEST(PermissionTextsTest, TheFoldersAreNamedAsTheUserKnowsThem) {
    EXPECT_EQ(refusedByModeNote({}, "/home/u"), std::nullopt);
    EXPECT_EQ(refusedByModeNote({"/home/u/Documents"}, "/home/u/"),
              "\u201c~/Documents\u201d keeps you out by its own permissions, so Keldwick leaves it alone.");
    EXPECT_EQ(refusedByModeNote({"/home/u/Music", "/srv/Photos", "/home/u/Videos"}, "/home/u"),
              "\u201c~/Music\u201d, \u201c/srv/Photos\u201d and \u201c~/Videos\u201d keep you out by their own "
              "permissions, so Keldwick leaves them alone.");

    EXPECT_EQ(showFolderAnswer({"/home/u/Documents", true}, "/home/u"), std::nullopt);
    EXPECT_EQ(showFolderAnswer({}, "/home/u"), permissionBlockedText({}));
    const auto unanswered = showFolderAnswer({"/home/u/Documents", false}, "/home/u");
    ASSERT_TRUE(unanswered);
    EXPECT_EQ(unanswered->rfind("Nothing could show \u201c~/Documents\u201d: no file manager answered.", 0), 0u);
}

}  // namespace
}  // namespace keldwick
