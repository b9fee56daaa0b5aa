#include "shell/DesktopServices.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "desktop/DriveWatcher.h"
#include "desktop/EjectGuard.h"
#include "desktop/LoginItem.h"
#include "desktop/Notifier.h"
#include "model/ModelPorts.h"
#include "support/TempDir.h"
#include "ui/DialogPorts.h"

namespace keldwick {
namespace {

// The running program must reach the desktop, never the model's quiet stand-ins, and its
// open panel and alerts are the windows' kit's.
TEST(DesktopServicesTest, EveryServiceIsTheDesktopOne) {
    // The preferences file is judged as the services are made: a temporary one, not the user's.
    test::TempDir config;
    const char* saved = ::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const AppServices services = desktopServices();
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    struct Case {
        const char* name;
        bool real;
    };
    const Case cases[] = {
        {"notifier", dynamic_cast<Notifier*>(services.notifier.get()) != nullptr},
        {"drive watcher", dynamic_cast<DriveWatcher*>(services.watcher.get()) != nullptr},
        {"eject guard", dynamic_cast<EjectGuard*>(services.ejectGuard.get()) != nullptr},
        {"file picker", dynamic_cast<DialogFilePicker*>(services.filePicker.get()) != nullptr},
        {"alerts", dynamic_cast<MessageBoxAlerts*>(services.alerts.get()) != nullptr},
        {"login item", dynamic_cast<AutostartLoginItem*>(services.loginItem.get()) != nullptr},
        {"preferences", dynamic_cast<StoredPreferences*>(services.preferences.get()) != nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.real);
    }
    ASSERT_TRUE(services.facts.iconPlacing);
    test::TempDir home;
    EXPECT_NE(services.facts.iconPlacing(home.path()), nullptr);
}

}  // namespace
}  // namespace keldwick
