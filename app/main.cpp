// The program: a tray icon over the model. A second launch hands over to the running
// instance, which shows its panel or moves the items a file manager named.

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QSystemTrayIcon>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "desktop/DesktopColorScheme.h"
#include "desktop/DesktopMotion.h"
#include "desktop/FileManagerEntry.h"
#include "desktop/LoginItem.h"
#include "desktop/PortalSettings.h"
#include "desktop/SelfInstall.h"
#include "desktop/Updater.h"
#include "files/AppModelFilesHost.h"
#include "files/FilesWindow.h"
#include "foundation/InstanceLock.h"
#include "foundation/PathUtil.h"
#include "foundation/PrivateFolder.h"
#include "foundation/UserFolders.h"
#include "tray/TrayGlyph.h"
#include "model/AppModel.h"
#include "onboarding/AppModelOnboardingHost.h"
#include "onboarding/OnboardingWindow.h"
#include "onboarding/PermissionWindow.h"
#include "preview/AppModelPreviewHost.h"
#include "preview/PreviewWindow.h"
#include "settings/AppModelSettingsHost.h"
#include "settings/SettingsWindow.h"
#include "shell/DesktopServices.h"
#include "shell/InstanceBus.h"
#include "shell/Launch.h"
#include "model/LogSink.h"
#include "model/StatusTexts.h"
#include "shell/ProgramWiring.h"
#include "shell/Session.h"
#include "shell/TerminationSignal.h"
#include "shell/WindowAppearance.h"
#include "systemdata/AppModelSystemDataHost.h"
#include "systemdata/SystemDataWindow.h"
#include "ui/ButtonPadding.h"
#include "ui/DialogPorts.h"
#include "ui/InterfaceLocale.h"
#include "ui/Symbols.h"

using namespace keldwick;

namespace {

// What a launch that finds the program running in another session ends with.
constexpr int alreadyRunningStatus = 3;

// Tells the user the program runs already, then ends this launch. A termination signal
// (a logout) closes the alert as dismissing it does.
int refuseSecondInstance() {
    std::fputs("Keldwick is already running\n", stderr);
    std::fflush(stderr);
    TerminationSignal termination;
    QObject::connect(&termination, &TerminationSignal::received, [] { QCoreApplication::exit(alreadyRunningStatus); });
    const MenuStatus alert = alreadyRunningAlert(QSystemTrayIcon::isSystemTrayAvailable());
    MessageBoxAlerts().present(alert.headline, alert.detail.value_or(""));
    return alreadyRunningStatus;
}

// The program from its toolkit's start to its end. `relaunch` names an installed update to
// start in this one's place once everything here is closed.
int runProgram(const Launch& launch, int& toolkitCount, char** toolkitArguments, std::optional<std::string>& relaunch) {
    LogSink::install();
    QApplication app(toolkitCount, toolkitArguments);
    useInterfaceLocale();
    QApplication::setApplicationName(QStringLiteral("Keldwick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("keldwick"));
    // Closing a window never ends a tray program.
    QApplication::setQuitOnLastWindowClosed(false);
    Symbols::useDesktopIconTheme();
    keepButtonPadding();
    // Every window carries the program's icon, installed or run from the build tree.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("keldwick"), TrayGlyph::programIcon()));

    InstanceBus instance;
    if (instance.claim() == InstanceBus::Claim::taken) {
        bool answered = false;
        QEventLoop waiting;
        instance.handOver(launch.moveUris, [&](bool ok) {
            answered = ok;
            waiting.quit();
        });
        waiting.exec();
        if (answered) return 0;
        // Nobody answered for the name: the single-instance lock decides.
    }
    // No hand-over (another session bus, no bus, an owner that didn't answer): an
    // instance that runs holds the lock, and this launch ends before it reads settings,
    // opens the journal, settles installs or shows a window.
    AppEnvironment environment = AppEnvironment::live();
    auto instanceLock = InstanceLock::acquire(PathUtil::join(environment.support, "keldwick.lock"));
    if (!instanceLock) return refuseSecondInstance();
    environment.moveEntry = FileManagerEntry::place(FileManagerEntry::live());

    // A login starts the program from a place that lasts, whichever way it started before.
    renewLoginItem(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString());
    // The toolkit's settings file beside the support folder is private as well.
    PrivateFolder::secureAtStart(UserFolders::config());
    // Started once, the running version takes away what earlier versions and cut-short
    // installs left.
    const SelfInstall::Installation installation = SelfInstall::current();
    if (installation.prefix) SelfInstall::settle(*installation.prefix, installation.version);
    AppModel model(std::move(environment), desktopServices(), std::move(instanceLock));
    // The updater's two switches are the user's choice across starts.
    const std::unique_ptr<QSettings> updaterSettings = updaterStore(UserFolders::config());
    Updater updater(buildConfiguration(), installation, updaterSettings.get());
    ProgramWiring wiring(model, updater);
    WindowRegistry& windows = wiring.program().windows();
    windows.add(AppWindow::preview, previewWindowEntry(wiring.host<AppModelPreviewHost>(model)));
    windows.add(AppWindow::offloaded, filesWindowEntry(wiring.host<AppModelFilesHost>(model)));
    windows.add(AppWindow::systemData, systemDataWindowEntry(wiring.host<AppModelSystemDataHost>(model)));
    auto& onboardingHost = wiring.host<AppModelOnboardingHost>(model);
    windows.add(AppWindow::onboarding, onboardingWindowEntry(onboardingHost));
    windows.add(AppWindow::permission, permissionWindowEntry(onboardingHost));
    windows.add(std::nullopt, settingsWindowEntry(wiring.host<AppModelSettingsHost>(model, updater)));
    PortalSettings portal;
    DesktopColorScheme colorScheme(portal);
    WindowAppearance appearance(colorScheme);
    DesktopMotion motion(portal);
    wiring.program().tray().followMotion(motion);
    wiring.listen(instance);
    wiring.quitOnTermination();
    wiring.start();
    wiring.moveWhenReady(InstanceBus::localPaths(launch.moveUris));

    const int status = app.exec();
    relaunch = wiring.relaunchProgram();
    // Work still running on a worker (start-up recovery, a check's scan, a refresh reading
    // every record) must never meet the destructors of what it uses, this function's
    // objects or the process's statics: leave without running them; the journal and
    // start-up recovery settle what it was doing. Reading work ends within the wait.
    const auto wait = std::chrono::seconds(relaunch ? 30 : 1);
    const bool finished = !model.isBusy() && ThreadPoolExecutor::finishWithin(wait);
    if (!finished) {
        if (relaunch) std::fprintf(stderr, "Keldwick: work still runs; start %s again yourself\n", relaunch->c_str());
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // The items a file manager hands over are read before the toolkit sees the arguments,
    // which could take a name like "-style" for one of its own options.
    const Launch launch = parseLaunch(std::vector<std::string>(argv, argv + argc), QDir::currentPath().toStdString());
    // Answered without a graphical session, as from any terminal.
    if (launch.ask == Launch::Ask::help) {
        std::fputs(usageText(argc > 0 ? argv[0] : "keldwick").c_str(), stdout);
        return 0;
    }
    if (launch.ask == Launch::Ask::version) {
        std::printf("Keldwick %s\n", KELDWICK_VERSION);
        return 0;
    }
    if (auto problem = sessionProblem([](const char* name) {
            const char* value = std::getenv(name);
            return std::string(value ? value : "");
        })) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    std::vector<char*> toolkitArguments;
    for (const std::string& argument : launch.toolkitArguments) toolkitArguments.push_back(const_cast<char*>(argument.c_str()));
    int toolkitCount = static_cast<int>(toolkitArguments.size());
    toolkitArguments.push_back(nullptr);

    std::optional<std::string> relaunch;
    const int status = runProgram(launch, toolkitCount, toolkitArguments.data(), relaunch);
    if (relaunch) {
        // The instance's lock and bus name went with the objects above; the new version
        // claims them afresh.
        std::fflush(nullptr);
        ::execl(relaunch->c_str(), relaunch->c_str(), static_cast<char*>(nullptr));
        std::fprintf(stderr, "Keldwick couldn't start %s: %s\n", relaunch->c_str(), std::strerror(errno));
        return 1;
    }
    return status;
}
