#pragma once
// Everything the model uses of the world besides its environment: time, timers, threads,
// engines, the desktop's services and the system's facts. Each can be replaced, so tests
// run the model headless with scripted engines and hand-driven time.

#include <QCoreApplication>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drives/DrivePowerState.h"
#include "drives/VolumeInfo.h"
#include "foundation/HomeAccess.h"
#include "engine/IconPlacing.h"
#include "model/BackgroundExecutor.h"
#include "foundation/Clock.h"
#include "model/DriveOption.h"
#include "model/EngineOperations.h"
#include "model/ModelPorts.h"
#include "model/Timers.h"

namespace keldwick {

// Facts read from the system, by default the core's readers.
struct SystemFacts {
    // Free and total bytes of the volume holding a path.
    std::function<std::optional<int64_t>(const std::string& path)> availableBytes;
    std::function<std::optional<int64_t>(const std::string& path)> totalBytes;
    // Whether the program may read the user's files: a probe of the managed folders and the
    // home's standard folders.
    std::function<HomeAccess::Reading(const std::string& home, const std::vector<std::string>& managed)>
        homeAccess;
    // The sandbox the program runs in, whose own command lets it into the home.
    HomeAccess::Sandbox sandbox;
    std::function<std::optional<VolumeInfo>(const std::string& mountPath)> volumeInfo;
    // The name a mounted drive goes by (its marker's, else its volume's).
    std::function<std::optional<std::string>(const std::string& mountPath)> driveNameAt;
    // The power state of a disk by kernel name; none when it can't be read.
    std::function<std::optional<DrivePowerState>(const std::string& kernelName)> powerState;
    // What keeps desktop icons in place while items become links, for the desktop folder;
    // none: icons are not kept.
    std::function<std::shared_ptr<IconPlacing>(const std::string& desktop)> iconPlacing;

    static SystemFacts live();
};

struct AppServices {
    // The model's clock, and the core's: the journal, the engines and the drive system
    // below take this one, so their stamps agree with the model's time.
    std::shared_ptr<const Clock> clock = Clock::system();
    std::shared_ptr<Timers> timers = std::make_shared<QtTimers>();
    std::shared_ptr<BackgroundExecutor> background = ThreadPoolExecutor::shared();
    EngineFactory engines = CoreEngine::factory();
    std::shared_ptr<NoticePosting> notifier = std::make_shared<QuietNotices>();
    std::shared_ptr<DriveEvents> watcher = std::make_shared<QuietDriveEvents>();
    std::shared_ptr<EjectGuarding> ejectGuard = std::make_shared<QuietEjectGuard>();
    std::shared_ptr<FilePicker> filePicker = std::make_shared<NoFilePicker>();
    std::shared_ptr<AlertPresenter> alerts = std::make_shared<LoggedAlerts>();
    std::shared_ptr<LoginItem> loginItem = std::make_shared<NoLoginItem>();
    std::shared_ptr<Preferences> preferences = std::make_shared<StoredPreferences>();
    // Asks the application to end (after the second-instance alert).
    std::function<void()> terminate = [] { QCoreApplication::quit(); };
    // Opens an address with the desktop; false when nothing opened it.
    std::function<bool(const std::string& url)> openURL = [](const std::string&) { return false; };
    SystemFacts facts = SystemFacts::live();
    // Listing and measuring drive options (made with `clock`: replace both together).
    DriveOption::System driveSystem = DriveOption::System::live(clock);

    AppServices();
};

}  // namespace keldwick
