#include <gtest/gtest.h>

#include "desktop/Pictures.h"
#include "support/TempDir.h"
#include "systemdata/InstalledApps.h"
#include "support/FakeWindowHost.h"
#include "systemdata/SystemDataHost.h"
#include "systemdata/SystemDataWindow.h"
#include "ui/Symbols.h"

namespace keldwick {
namespace {

constexpr int64_t MB = 1'000'000;
constexpr double day = 86400;
const Date kNow{1'800'000'000};

// Answers the window's questions at once from fixtures; a clearing waits for the test.
class ScriptedHost final : public test::FakeWindowHost<SystemDataHost> {
public:
    std::vector<CacheLocation> caches;
    std::vector<MovableData> movable;
    bool answer = true;
    std::function<void(CacheClearing)> clearing;
    InstalledApps* apps = nullptr;

    ScriptedHost() { clock = kNow; }

    void cacheLocations(std::function<void(std::vector<CacheLocation>)> done) override {
        if (answer) done(caches);
    }
    void clearCaches(std::vector<CacheLocation>, std::function<void(CacheClearing)> done) override {
        clearing = std::move(done);
    }
    void findMovable(std::function<void(std::vector<MovableData>)> done) override {
        if (answer) done(movable);
    }
    void moveToDrive(std::vector<std::string>, std::function<void(std::optional<std::string>)>) override {}
    QIcon appIcon(const std::string& itemName) override { return apps ? apps->icon(itemName) : QIcon(); }
};

CacheLocation cache(const char* name, const char* note, int64_t size, bool byDefault = true) {
    CacheLocation location;
    location.name = name;
    location.note = note;
    location.size = size;
    location.selectedByDefault = byDefault;
    return location;
}

MovableData item(const std::string& name, MovableData::Kind kind, int64_t size, double daysAgo,
                 std::optional<std::string> openIn = std::nullopt) {
    MovableData data;
    data.path = "/home/u/.local/share/" + name;
    data.name = name;
    data.kind = kind;
    data.size = size;
    data.lastUsed = kNow.adding(-daysAgo * day);
    data.openIn = std::move(openIn);
    return data;
}

void save(SystemDataWindow& window, const char* name) {
    test::savePicture(window, QSize(SystemDataWindow::defaultWidth, SystemDataWindow::defaultHeight),
                      QStringLiteral("systemdata-%1").arg(QLatin1String(name)));
}

TEST(SystemDataPicturesTest, TheWindowInItsMainStates) {
    Symbols::useDesktopIconTheme();
    // Two installed apps whose folders hold their files; the third folder has no app.
    test::TempDir applications;
    test::writeFile(applications / "steam.desktop", "[Desktop Entry]\nName=Steam\nIcon=applications-games\n");
    test::writeFile(applications / "krita.desktop", "[Desktop Entry]\nName=Krita\nIcon=applications-graphics\n");
    InstalledApps apps({applications.path()});

    ScriptedHost host;
    host.apps = &apps;
    host.model.settings.onboardingComplete = true;
    host.model.settings.drive = Drive{"ID", test::longDriveName};
    host.model.driveRoot = "/media/u/Archive";
    host.caches = {
        cache("App and tool caches", "Apps, browsers and tools rebuild them as you use them", 4'870 * MB),
        cache("Gradle caches", "Android builds download what they need again", 2'310 * MB),
        cache("npm cache", "Packages download again when you install them", 612 * MB),
        cache("Rust downloads", "Crates download again when you build", 1'240 * MB),
    };
    host.movable = {
        item("Steam", MovableData::Kind::appFiles, 48'200 * MB, 12),
        item("Pixel 7 API 34", MovableData::Kind::emulator, 11'600 * MB, 40),
        item("Krita", MovableData::Kind::appFiles, 2'100 * MB, 3, std::string("krita")),
        item("Ollama models", MovableData::Kind::models, 9'800 * MB, 75),
        item("Odd Tool", MovableData::Kind::appFiles, 740 * MB, 200),
    };
    {
        SystemDataWindow window(host, [](QWidget*, const QString&) { return true; });
        save(window, "ready");

        // Clearing the ticked caches, then what came of it.
        window.clearChosen();
        save(window, "clearing");
        ASSERT_TRUE(host.clearing);
        host.clearing(CacheClearing{8'910 * MB, 1});
        save(window, "cleared");
    }
    {
        host.answer = false;
        SystemDataWindow window(host);
        save(window, "adding-up");
        host.answer = true;
    }
    {
        host.model.driveRoot.reset();
        host.caches.clear();
        SystemDataWindow window(host);
        save(window, "drive-away");
    }
}

}  // namespace
}  // namespace keldwick
