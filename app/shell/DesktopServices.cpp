#include "shell/DesktopServices.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>

#include "desktop/DriveWatcher.h"
#include "desktop/EjectGuard.h"
#include "desktop/DesktopIconPlaces.h"
#include "desktop/LoginItem.h"
#include "desktop/Notifier.h"
#include "foundation/SettingsFile.h"
#include "model/ModelPorts.h"
#include "ui/DialogPorts.h"

namespace keldwick {

AppServices desktopServices() {
    AppServices services;
    services.notifier = std::make_shared<Notifier>(QDBusConnection::sessionBus());
    services.watcher = std::make_shared<DriveWatcher>(DriveWatcher::Options{});
    services.ejectGuard = std::make_shared<EjectGuard>(EjectGuard::Options{});
    services.filePicker = std::make_shared<DialogFilePicker>();
    services.alerts = std::make_shared<MessageBoxAlerts>();
    services.loginItem = std::make_shared<AutostartLoginItem>();
    // The toolkit's settings file is judged before anything opens it: a damaged one is set
    // aside, and the start goes on with the defaults.
    const std::string preferences = StoredPreferences::defaultPath();
    const SettingsFile::Prepared prepared = SettingsFile::prepare(preferences);
    services.preferences = std::make_shared<StoredPreferences>(preferences, prepared.setAside);
    services.openURL = [](const std::string& url) {
        return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    };
    services.facts.iconPlacing = [](const std::string& desktop) -> std::shared_ptr<IconPlacing> {
        return std::make_shared<DesktopIconPlaces>(desktop);
    };
    return services;
}

}  // namespace keldwick
