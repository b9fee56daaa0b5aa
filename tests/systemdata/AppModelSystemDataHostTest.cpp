#include "systemdata/AppModelSystemDataHost.h"

#include <QImage>
#include <QSignalSpy>
#include <filesystem>
#include <gtest/gtest.h>

#include "model/ModelFakes.h"
#include "systemdata/SystemDataWindow.h"

namespace keldwick {
namespace {

TEST(AppModelSystemDataHostTest, TheWindowsCallsReachTheModel) {
    test::ModelWorld world;
    world.writeReadySettings();
    const std::string cached = world.home + "/.npm/_cacache/index-v5/entry";
    test::makeDirs(world.home + "/.npm/_cacache/index-v5");
    test::writeFile(cached, std::string(300'000, 'x'));
    test::makeDirs(world.dir / "applications");
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString(world.dir / "viewer.png")));
    test::writeFile(world.dir / "applications/viewer.desktop",
                    "[Desktop Entry]\nName=Viewer\nIcon=" + (world.dir / "viewer.png") + "\n");
    auto model = world.make();
    AppModelSystemDataHost host(*model, InstalledApps({world.dir / "applications"}));
    EXPECT_EQ(&host.state(), &model->state());
    EXPECT_EQ(host.now(), world.clock->now());

    QSignalSpy changed(&host, &SystemDataHost::stateChanged);
    model->setFilesTab(FilesTab::everything);
    EXPECT_GE(changed.count(), 1);

    // The caches measured in the model's home, then the chosen one emptied.
    std::optional<std::vector<CacheLocation>> measured;
    host.cacheLocations([&](std::vector<CacheLocation> locations) { measured = std::move(locations); });
    ASSERT_TRUE(test::pumpUntil([&] { return measured.has_value(); }));
    std::vector<CacheLocation> appCaches;
    for (const CacheLocation& location : *measured) {
        if (location.name == "npm cache") appCaches.push_back(location);
    }
    ASSERT_EQ(appCaches.size(), 1u);
    EXPECT_GE(appCaches[0].size, 300'000);
    std::optional<CacheClearing> cleared;
    host.clearCaches(appCaches, [&](CacheClearing result) { cleared = result; });
    ASSERT_TRUE(test::pumpUntil([&] { return cleared.has_value(); }));
    EXPECT_GE(cleared->freed, 300'000);
    EXPECT_EQ(cleared->kept, 0);
    EXPECT_FALSE(std::filesystem::exists(cached));

    // Nothing big in an empty home.
    std::optional<std::vector<MovableData>> found;
    host.findMovable([&](std::vector<MovableData> items) { found = std::move(items); });
    ASSERT_TRUE(test::pumpUntil([&] { return found.has_value(); }));
    EXPECT_TRUE(found->empty());

    // A move of something that isn't there comes back with the reason.
    std::optional<std::optional<std::string>> answer;
    host.moveToDrive({world.home + "/Android/avd"}, [&](std::optional<std::string> text) { answer = text; });
    ASSERT_TRUE(test::pumpUntil([&] { return answer.has_value(); }));
    ASSERT_TRUE(answer->has_value());
    EXPECT_FALSE((*answer)->empty());

    // The apps come from the folders the host was given.
    EXPECT_FALSE(host.appIcon("Viewer").isNull());
    EXPECT_TRUE(host.appIcon("Nobody").isNull());

    // The registry's entry makes the window over the host.
    const WindowRegistry::Entry entry = systemDataWindowEntry(host);
    EXPECT_EQ(entry.title, QStringLiteral("System Data"));
    EXPECT_EQ(entry.size, QSize(600, 520));
    std::unique_ptr<QWidget> window(entry.make());
    auto* systemData = qobject_cast<SystemDataWindow*>(window.get());
    ASSERT_TRUE(systemData);
    EXPECT_TRUE(test::pumpUntil([&] { return systemData->view().caches && systemData->view().movable; }));
}

}  // namespace
}  // namespace keldwick
