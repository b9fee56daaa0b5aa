#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "model/AppEnvironment.h"
#include "model/AppWindow.h"
#include "model/ModelState.h"
#include "model/Notice.h"
#include "foundation/PathUtil.h"
#include "support/TempDir.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace keldwick;

TEST(ModelTypesTest, RawValuesRoundTrip) {
    for (AppWindow window : {AppWindow::onboarding, AppWindow::preview, AppWindow::offloaded, AppWindow::permission,
                             AppWindow::systemData}) {
        EXPECT_EQ(parseAppWindow(toString(window)), window);
    }
    EXPECT_EQ(parseAppWindow("systemData"), AppWindow::systemData);
    for (const char* other : {"settings", "SystemData", "", "preview "}) {
        EXPECT_EQ(parseAppWindow(other), std::nullopt) << other;
    }

    for (NoticeTarget target :
         {NoticeTarget::preview, NoticeTarget::suggested, NoticeTarget::offloaded, NoticeTarget::menu}) {
        EXPECT_EQ(parseNoticeTarget(toString(target)), target);
    }
    EXPECT_EQ(toString(NoticeTarget::preview), "preview");
    EXPECT_EQ(toString(NoticeTarget::suggested), "suggested");
    EXPECT_EQ(toString(NoticeTarget::offloaded), "offloaded");
    EXPECT_EQ(toString(NoticeTarget::menu), "menu");
    EXPECT_EQ(parseNoticeTarget("Offloaded"), std::nullopt);
    EXPECT_EQ(parseNoticeTarget(""), std::nullopt);
}

// The windows' table gives the ids requests carry, the titles and the folders the build and
// the scripts read; the ids are exchanged between instances, so their spellings stay.
TEST(ModelTypesTest, TheWindowsTableGivesIdsTitlesAndFolders) {
    std::vector<std::string> ids;
    for (AppWindow window : {AppWindow::onboarding, AppWindow::preview, AppWindow::offloaded, AppWindow::permission,
                             AppWindow::systemData}) {
        ids.emplace_back(toString(window));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"onboarding", "preview", "offloaded", "permission", "systemData"}));
    EXPECT_EQ(windowTitle(AppWindow::offloaded), "Files on Your Drive");
    EXPECT_EQ(windowTitle(AppWindow::permission), "Keldwick Permission");
    EXPECT_EQ(windowTitle(std::nullopt), "Settings");
    EXPECT_EQ(trayPanelTitle(), "Keldwick");

    std::vector<std::string> folders;
    for (const WindowFacts& row : windowTable()) {
        if (std::find(folders.begin(), folders.end(), row.folder) == folders.end()) folders.emplace_back(row.folder);
        EXPECT_FALSE(row.title.empty()) << row.id;
    }
    EXPECT_EQ(folders, (std::vector<std::string>{"tray", "onboarding", "preview", "files", "systemdata", "settings"}));
}

TEST(ModelTypesTest, RequestsAndNoticesGetFreshIdentifiers) {
    WindowRequest first = WindowRequest::make(AppWindow::preview);
    WindowRequest second = WindowRequest::make(AppWindow::preview);
    EXPECT_EQ(first.window, second.window);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.token.size(), 36u);
    EXPECT_EQ(WindowRequest::make(std::nullopt).window, std::nullopt);

    Notice fixed{"Test run finished", "body", NoticeTarget::menu, "test-run"};
    EXPECT_EQ(fixed.postingIdentifier(), "test-run");
    Notice fresh{"Freed up 1 GB", "body", NoticeTarget::offloaded, std::nullopt};
    EXPECT_NE(fresh.postingIdentifier(), fresh.postingIdentifier());
}

TEST(ModelTypesTest, OnlyFileWorkIsBusy) {
    const std::vector<std::pair<Activity, bool>> cases = {
        {Activity::idle, false},     {Activity::scanning, false},  {Activity::clearing, false},
        {Activity::moving, true},    {Activity::restoring, true},  {Activity::recovering, true},
    };
    for (const auto& [activity, busy] : cases) EXPECT_EQ(isBusy(activity), busy) << static_cast<int>(activity);
}

namespace {

// Sets an environment variable for the scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(ModelTypesTest, LiveEnvironmentFromTheUsersFolders) {
    test::TempDir temp;
    const std::string real = temp.path() + "/real-home";
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(real.c_str(), (temp.path() + "/home-link").c_str()), 0);
    {
        ScopedEnv home("HOME", (temp.path() + "/home-link").c_str());
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        AppEnvironment env = AppEnvironment::live();
        EXPECT_EQ(env.home, *PathUtil::canonical(real));
        EXPECT_EQ(env.support, temp.path() + "/home-link/.local/share/Keldwick");
        EXPECT_NE(env.locator, nullptr);
    }
    {
        ScopedEnv home("HOME", (temp.path() + "/missing").c_str());
        ScopedEnv data("XDG_DATA_HOME", "/srv/data");
        AppEnvironment env = AppEnvironment::live();
        EXPECT_EQ(env.home, temp.path() + "/missing");  // not canonical: kept as given
        EXPECT_EQ(env.support, "/srv/data/Keldwick");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
        ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(AppEnvironment::live().support, "/home/u/.local/share/Keldwick");
    }
}
