// The program installed into a temporary prefix, then launched through each file
// manager's action as that file manager does it, with items whose names break naive
// quoting: every item must reach the running instance whole and in order.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <unistd.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "desktop/PrivateBus.h"
#include "desktop/SelfInstall.h"
#include "shell/InstanceBus.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

QString q(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of `key` in `group` of a key file, as written (escapes and all).
std::string keyValue(const std::string& file, const std::string& group, const std::string& key) {
    std::istringstream lines(readAll(file));
    std::string line, current;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.front() == '[') current = line;
        else if (current == "[" + group + "]" && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return "";
}

// The project's version, as the build was configured.
std::string buildVersion() {
    std::istringstream cache(readAll(std::string(KELDWICK_BUILD_DIR) + "/CMakeCache.txt"));
    const std::string key = "CMAKE_PROJECT_VERSION:STATIC=";
    for (std::string line; std::getline(cache, line);) {
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
    }
    return "";
}

class FileManagerActionsTest : public ::testing::Test {
protected:
    test::TempDir dir;
    // A prefix whose path needs quoting in every action line (CMake itself takes no
    // backslash in one).
    std::string prefix = dir / "pre fix \"q\" 'a' $HOME `x`";
    std::string items = dir / "items";
    std::vector<std::string> names = {"with spaces",   "quote\"d and 'single'", "new\nline",
                                      "-leading-dash", "$HOME `tick` \\back",   "100% %U %F %20",
                                      "caf\xc3\xa9"};
    std::vector<std::string> paths;

    void SetUp() override {
        test::makeDirs(items);
        test::makeDirs(dir / "home");
        for (const auto& name : names) paths.push_back(test::writeFile(items + "/" + name, "x"));
    }

    // What a launched program sees: the test's bus, no display, a home of its own.
    QProcessEnvironment environment(const QString& busAddress) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", q(dir / "home"));
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        return env;
    }

    // Runs `program` with `arguments` (no shell) and waits for it, the event loop running
    // so the instance in this process can answer it.
    int run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
            const QString& folder = {}) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (!folder.isEmpty()) process.setWorkingDirectory(folder);
        process.start(program, arguments);
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60'000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // A desktop entry that runs `exec`, launched by GLib (as GNOME's and Cinnamon's
    // desktops launch entries) with `files`.
    int launchEntry(const std::string& exec, const QStringList& files, const QProcessEnvironment& env) {
        const std::string entry = test::writeFile(dir / "launch.desktop",
                                                  "[Desktop Entry]\nType=Application\nName=Launch\nExec=" + exec + "\n");
        return run("gio", QStringList{"launch", q(entry)} + files, env);
    }

    std::string installed(const std::string& relative) { return prefix + "/" + relative; }
};

TEST_F(FileManagerActionsTest, InstallPutsEveryFileInItsPlaceAndEachActionHandsItemsOverWhole) {
    test::PrivateBus bus;
    if (bus.skipReason()) GTEST_SKIP() << *bus.skipReason();
    const QProcessEnvironment env = environment(bus.address());

    // Installing: every file under the prefix, nothing elsewhere.
    ASSERT_EQ(run("cmake", {"--install", KELDWICK_BUILD_DIR, "--prefix", q(prefix)}, env), 0);
    struct Placed {
        std::string path;
        bool executable;
    };
    const Placed placed[] = {
        {"bin/keldwick", true},
        {"lib/keldwick/" + buildVersion() + "/keldwick", true},
        {"lib/keldwick/" + buildVersion() + "/libKeldwickCore.so.0", false},
        {"share/applications/keldwick.desktop", false},
        {"share/kio/servicemenus/keldwick-move.desktop", true},
        {"share/nemo/actions/keldwick-move.nemo_action", false},
        {"share/nautilus/scripts/Move to Keldwick Drive", true},
    };
    for (const Placed& p : placed) {
        SCOPED_TRACE(p.path);
        const QFileInfo info(q(installed(p.path)));
        EXPECT_TRUE(info.exists());
        EXPECT_EQ(info.isExecutable(), p.executable);
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage icon(q(installed("share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                                      "/apps/keldwick.png")));
        EXPECT_EQ(icon.size(), QSize(size, size)) << size;
    }
    // The versioned layout: the link names the version, and the program can replace itself there.
    EXPECT_EQ(QFileInfo(q(installed("bin/keldwick"))).symLinkTarget(),
              q(installed("lib/keldwick/" + buildVersion() + "/keldwick")));
    const auto where = SelfInstall::locate(installed("lib/keldwick/" + buildVersion() + "/keldwick"), ::geteuid());
    EXPECT_EQ(where.prefix, prefix) << where.whyNot;
    EXPECT_EQ(where.version, buildVersion());
    std::istringstream manifest(readAll(std::string(KELDWICK_BUILD_DIR) + "/install_manifest.txt"));
    for (std::string line; std::getline(manifest, line);) EXPECT_EQ(line.rfind(prefix + "/", 0), 0u) << line;

    // The running instance, on the test's bus.
    InstanceBus owner(bus.connect());
    std::vector<std::vector<std::string>> moves;
    int shown = 0;
    QObject::connect(&owner, &InstanceBus::moveRequested, [&](const std::vector<std::string>& p) { moves.push_back(p); });
    QObject::connect(&owner, &InstanceBus::showPanelRequested, [&] { ++shown; });
    ASSERT_EQ(owner.claim(), InstanceBus::Claim::owner);
    auto arrived = [&](const char* road) {
        SCOPED_TRACE(road);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !moves.empty(); }, 30'000));
        EXPECT_EQ(moves, std::vector<std::vector<std::string>>{paths});
        moves.clear();
    };
    QStringList files;
    for (const auto& path : paths) files << q(path);

    // The program's own entry starts it, and a second start shows the running one's panel.
    ASSERT_EQ(launchEntry(keyValue(installed("share/applications/keldwick.desktop"), "Desktop Entry", "Exec"), {}, env),
              0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown == 1; }, 30'000));

    // Dolphin expands %F into one argument a path, by the desktop entry rules GLib follows.
    const std::string dolphin =
        keyValue(installed("share/kio/servicemenus/keldwick-move.desktop"), "Desktop Action moveToKeldwickDrive", "Exec");
    ASSERT_EQ(launchEntry(dolphin, files, env), 0);
    arrived("Dolphin");

    // Nemo writes each item's URI, in double quotes, into its Exec line and splits the line
    // with GLib's shell parser, as launching this entry does.
    std::string nemo = keyValue(installed("share/nemo/actions/keldwick-move.nemo_action"), "Nemo Action", "Exec");
    std::string uris;
    for (const auto& path : paths) {
        QProcess info;
        info.start("gio", {"info", "--attributes=standard::name", q(path)});
        ASSERT_TRUE(info.waitForFinished(30'000));
        const QString uri = QString::fromUtf8(info.readAllStandardOutput()).section(QStringLiteral("uri: "), 1).section('\n', 0, 0);
        ASSERT_TRUE(uri.startsWith("file:///")) << uri.toStdString();
        uris += (uris.empty() ? "\"" : " \"") + uri.toStdString() + "\"";
    }
    // Both read the line as a key file value; in an entry's line "%" starts a field code.
    std::string escaped;
    for (char c : uris) escaped += c == '%' ? std::string("%%") : std::string(1, c);
    nemo.replace(nemo.find("%U"), 2, escaped);
    ASSERT_EQ(launchEntry(nemo, {}, env), 0);
    arrived("Nemo");

    // Nautilus runs its script in the items' folder with their names, one argument each.
    QStringList relative;
    for (const auto& name : names) relative << q(name);
    ASSERT_EQ(run(q(installed("share/nautilus/scripts/Move to Keldwick Drive")), relative, env, q(items)), 0);
    arrived("Nautilus");
}

}  // namespace
}  // namespace keldwick
