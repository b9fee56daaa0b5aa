// The real program launched twice by one user in two sessions (two session buses, one
// support folder): the second launch can't hand over, says so and ends with a status of
// its own, having touched nothing of the running one's.

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <gtest/gtest.h>

#include "desktop/PrivateBus.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

QString q(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// Whether the process has a file whose path ends with `name` open.
bool holdsOpen(qint64 pid, const std::string& name) {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
        if (target.size() >= name.size() && target.compare(target.size() - name.size(), name.size(), name) == 0)
            return true;
    }
    return false;
}

struct Launch {
    QProcess process;
    QByteArray errors;

    Launch(const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { errors += process.readAllStandardError(); });
        process.start(QStringLiteral(KELDWICK_BUILD_DIR "/app/keldwick"), {});
    }
    ~Launch() {
        if (process.state() == QProcess::NotRunning) return;
        process.kill();
        process.waitForFinished();
    }
    bool endsWithin(int ms) {
        return QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, ms);
    }
};

TEST(SecondInstanceTest, ALaunchInAnotherSessionEndsBeforeTouchingTheRunningInstancesFiles) {
    test::PrivateBus firstSession;
    test::PrivateBus secondSession;
    if (firstSession.skipReason()) GTEST_SKIP() << *firstSession.skipReason();
    test::TempDir dir;
    const std::string support = dir / "data/Keldwick";
    auto environment = [&](const QString& bus) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", q(dir / "home"));
        env.insert("XDG_DATA_HOME", q(dir / "data"));
        env.insert("XDG_CONFIG_HOME", q(dir / "config"));
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        return env;
    };
    test::makeDirs(dir / "home");

    Launch running(environment(firstSession.address()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return holdsOpen(running.process.processId(), "/journal.sqlite"); }, 60'000));
    // Whichever instance reads a damaged settings file sets it aside.
    test::writeFile(support + "/settings.json", "{ damaged");

    Launch second(environment(secondSession.address()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.errors.contains("Keldwick is already running"); }, 60'000))
        << second.errors.toStdString();
    // The alert is up: nothing of the first instance's was read or opened.
    EXPECT_FALSE(holdsOpen(second.process.processId(), "/journal.sqlite"));
    EXPECT_EQ(test::readFile(support + "/settings.json"), "{ damaged");
    EXPECT_FALSE(QFileInfo::exists(q(support + "/settings.json.corrupt")));

    // A logout closes the alert as dismissing it does.
    ::kill(static_cast<pid_t>(second.process.processId()), SIGTERM);
    ASSERT_TRUE(second.endsWithin(30'000));
    EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process.exitCode(), 3);
    EXPECT_EQ(running.process.state(), QProcess::Running);
    EXPECT_TRUE(holdsOpen(running.process.processId(), "/journal.sqlite"));

    ::kill(static_cast<pid_t>(running.process.processId()), SIGTERM);
    EXPECT_TRUE(running.endsWithin(60'000));
}

// The toolkit's settings file as a FIFO, or as a file of 50 MB: the program starts as
// usual (it opens its journal and answers a termination), the file set aside unopened.
TEST(SecondInstanceTest, AToolkitSettingsFileThatIsNoFileDoesNotHoldUpTheStart) {
    test::PrivateBus session;
    if (session.skipReason()) GTEST_SKIP() << *session.skipReason();
    for (const char* kind : {"fifo", "50 MB"}) {
        SCOPED_TRACE(kind);
        test::TempDir dir;
        test::makeDirs(dir / "home");
        const std::string conf = dir / "config/Keldwick/Keldwick.conf";
        test::makeDirs(dir / "config/Keldwick");
        if (std::string(kind) == "fifo") {
            ASSERT_EQ(::mkfifo(conf.c_str(), 0600), 0);
        } else {
            test::writeFile(conf, "[General]\n");
            ASSERT_EQ(::truncate(conf.c_str(), 50'000'000), 0);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", session.address());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", q(dir / "home"));
        env.insert("XDG_DATA_HOME", q(dir / "data"));
        env.insert("XDG_CONFIG_HOME", q(dir / "config"));
        env.insert("ASAN_OPTIONS", "detect_leaks=0");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        Launch program(env);
        ASSERT_TRUE(QTest::qWaitFor([&] { return holdsOpen(program.process.processId(), "/journal.sqlite"); }, 60'000))
            << program.errors.toStdString();
        EXPECT_TRUE(QFileInfo::exists(q(conf + ".corrupt")));
        ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
        EXPECT_TRUE(program.endsWithin(60'000)) << program.errors.toStdString();
    }
}

}  // namespace
}  // namespace keldwick
