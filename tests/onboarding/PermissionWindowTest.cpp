// The permission screens probe once a second while shown, follow the answer both ways,
// and stop probing when hidden.

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "onboarding/OnboardingTexts.h"
#include "onboarding/OnboardingWorld.h"
#include "onboarding/PermissionInstructions.h"
#include "onboarding/PermissionWindow.h"
#include "support/KeyboardWalk.h"

namespace keldwick::test {
namespace {

TEST(PermissionWindowTest, ProbesWhileShownAndFollowsTheAnswer) {
    OnboardingWorld guide;
    guide.world.homeAccess = false;
    guide.make();
    auto& probes = guide.world.homeAccessProbes;
    PermissionWindow window(*guide.host);
    auto* instructions = window.instructions();
    const int before = probes;
    window.show();
    EXPECT_EQ(probes, before + 1) << "the first probe comes at once";
    EXPECT_TRUE(instructions->probeTimer().isActive());
    EXPECT_TRUE(instructions->steps()->isVisibleTo(&window));
    EXPECT_FALSE(instructions->granted()->isVisibleTo(&window));
    EXPECT_EQ(window.closeButton()->text(), "Close");
    EXPECT_FALSE(window.closeButton()->isDefault());

    // Granted elsewhere: within about a second the window says so, and Return closes it.
    guide.world.homeAccess = true;
    ASSERT_TRUE(pumpUntil([&] { return instructions->granted()->isVisibleTo(&window); }));
    EXPECT_FALSE(instructions->steps()->isVisibleTo(&window));
    EXPECT_EQ(window.closeButton()->text(), "Done");
    EXPECT_TRUE(window.closeButton()->isDefault());

    // Withdrawn again: the steps come back, the probing never stopped.
    guide.world.homeAccess = false;
    ASSERT_TRUE(pumpUntil([&] { return instructions->steps()->isVisibleTo(&window); }));
    EXPECT_EQ(window.closeButton()->text(), "Close");

    window.hide();
    EXPECT_FALSE(instructions->probeTimer().isActive());
    const int hidden = probes;
    QTest::qWait(1200);
    EXPECT_EQ(probes, hidden) << "no probe while hidden";
    window.show();
    EXPECT_EQ(probes, hidden + 1);
}

TEST(PermissionWindowTest, WithoutASettingsPageTheButtonExplainsWhatBlocksAccess) {
    OnboardingWorld guide;
    guide.world.homeAccess = false;
    guide.make();
    QPointer<PermissionWindow> window = new PermissionWindow(*guide.host);
    window->show();
    auto* instructions = window->instructions();
    EXPECT_FALSE(instructions->blockedLabel()->isVisibleTo(window));
    instructions->settingsButton()->click();
    EXPECT_TRUE(instructions->blockedLabel()->isVisibleTo(window));
    EXPECT_EQ(instructions->blockedLabel()->text().toStdString(), permissionBlockedText({}));
    QTest::keyClick(window.data(), Qt::Key_Escape);
    EXPECT_TRUE(pumpUntil([&] { return window.isNull(); }));
}

// A folder closed by its own mode is named but leaves access given; one that blocks is
// the one shown, and a file manager that doesn't answer is said so.
TEST(PermissionWindowTest, NamesFoldersClosedByTheirModeAndSaysWhenNothingShowsTheFolder) {
    OnboardingWorld guide;
    guide.world.refusedByMode = {guide.world.home + "/Music"};
    guide.make();
    PermissionWindow window(*guide.host);
    window.show();
    auto* instructions = window.instructions();
    EXPECT_TRUE(instructions->granted()->isVisibleTo(&window));
    ASSERT_TRUE(instructions->refusedNote()->isVisibleTo(&window));
    EXPECT_TRUE(instructions->refusedNote()->text().startsWith(QString::fromUtf8("\u201c~/Music\u201d keeps you out")));

    guide.world.homeAccess = false;
    guide.world.blockedBy = guide.world.home + "/Documents";
    guide.model->services().openURL = [](const std::string&) { return false; };
    ASSERT_TRUE(pumpUntil([&] { return instructions->steps()->isVisibleTo(&window); }));
    instructions->settingsButton()->click();
    EXPECT_TRUE(instructions->blockedLabel()->isVisibleTo(&window));
    EXPECT_TRUE(instructions->blockedLabel()->text().startsWith(QString::fromUtf8("Nothing could show \u201c~/Documents\u201d")));
}

TEST(PermissionWindowTest, WorkedByKeyboardAndReadAsPlainText) {
    OnboardingWorld guide;
    guide.world.homeAccess = false;
    guide.make();
    PermissionWindow window(*guide.host);
    ASSERT_TRUE(activateForKeys(window));
    EXPECT_EQ(keyboardOrderProblem(window), "");
    EXPECT_EQ(accessibleMarkup(window), std::vector<std::string>{});
}

}  // namespace
}  // namespace keldwick::test
