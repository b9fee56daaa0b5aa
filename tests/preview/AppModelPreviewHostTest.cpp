#include <QSignalSpy>
#include <gtest/gtest.h>

#include "model/ModelFakes.h"
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

}  // namespace
}  // namespace keldwick
