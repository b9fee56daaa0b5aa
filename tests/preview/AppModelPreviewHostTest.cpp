#include <QSignalSpy>
#include <gtest/gtest.h>

#include "model/ModelFakes.h"
#include "model/ScanFindings.h"
#include "preview/AppModelPreviewHost.h"
#include "preview/PreviewWindow.h"
#include "ui/EmptyStateView.h"

namespace keldwick {
namespace {

TEST(AppModelPreviewHostTest, TheWindowFollowsTheModelAndAsksItForWindows) {
    test::ModelWorld world;
    world.writeReadySettings();
    auto model = world.make();
    AppModelPreviewHost host(*model);
    EXPECT_EQ(&host.state(), &model->state());
    EXPECT_EQ(host.now(), world.clock->now());

    QSignalSpy changed(&host, &PreviewHost::stateChanged);
    QSignalSpy replaced(&host, &PreviewHost::previewReplaced);
    host.requestWindow(AppWindow::systemData);
    EXPECT_GE(changed.count(), 1);
    host.openPreview();
    ASSERT_EQ(model->state().windowRequests.size(), 2u);
    EXPECT_EQ(model->state().windowRequests[0].window, AppWindow::systemData);
    EXPECT_EQ(model->state().windowRequests[1].window, AppWindow::preview);

    // The registry's entry makes the window over the model.
    const WindowRegistry::Entry entry = previewWindowEntry(host);
    EXPECT_EQ(entry.title, QStringLiteral("Free Up Space"));
    EXPECT_EQ(entry.size, QSize(820, 620));
    std::unique_ptr<QWidget> window(entry.make());
    auto* preview = qobject_cast<PreviewWindow*>(window.get());
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->minimumSize(), QSize(720, 540));
    ASSERT_TRUE(preview->emptyState());
}

// The window approves the model's own preview: the model drops it while approving, and
// must still run its plan.
TEST(AppModelPreviewHostTest, ApprovingTheModelsOwnPreviewRunsItsPlan) {
    test::ModelWorld world;
    world.writeReadySettings();
    world.locator->set(world.drive.id, world.driveRoot);
    auto model = world.make();
    ASSERT_TRUE(test::refreshed(*model));
    AppModelPreviewHost host(*model);
    const std::string item = world.home + "/Downloads/film.mov";
    ScanFindings findings;
    findings.report.candidates = {
        Candidate(item, false, 2'000'000, 1, Date{0}, LastUsedSource::modificationDate, 1.0)};
    findings.driveRoom = 100'000'000'000;
    model->openPreview(PreviewKind::manual, 1'000'000, findings, true);
    ASSERT_TRUE(host.preview());
    ASSERT_TRUE(host.preview()->plan());

    host.approvePreview(*host.preview());
    EXPECT_FALSE(host.preview());
    ASSERT_TRUE(test::pumpUntil([&] {
        std::lock_guard hold(world.engines->lock);
        for (const auto& engine : world.engines->built)
            for (const std::string& call : engine->calls())
                if (call == "run " + item) return true;
        return false;
    }));
}

}  // namespace
}  // namespace keldwick
