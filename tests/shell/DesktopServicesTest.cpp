#include "shell/DesktopServices.h"

#include <gtest/gtest.h>

#include "desktop/DriveWatcher.h"
#include "desktop/EjectGuard.h"
#include "desktop/LoginItem.h"
#include "desktop/Notifier.h"
#include "support/TempDir.h"
#include "ui/DialogPorts.h"

namespace keldwick {
namespace {

// The running program must reach the desktop, never the model's quiet stand-ins, and its
// open panel and alerts are the windows' kit's.
TEST(DesktopServicesTest, EveryServiceIsTheDesktopOne) {
    const AppServices services = desktopServices();
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
