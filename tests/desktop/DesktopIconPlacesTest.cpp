#include "desktop/DesktopIconPlaces.h"

#include "desktop/PrivateBus.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTest>
#include "model/BackgroundExecutor.h"
#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace keldwick {
namespace {

TEST(IconPositionTest, ParsesTwoFiniteNumbersOnly) {
    struct Case {
        const char* text;
        std::optional<IconPlace> place;
    };
    const Case cases[] = {
        {"120, 88", IconPlace{120, 88}},
        {"120,88", IconPlace{120, 88}},
        {" \t1.5 ,\t-2 ", IconPlace{1.5, -2}},
        {",,5,,6,", IconPlace{5, 6}},
        {"5,abc,6", IconPlace{5, 6}},  // pieces that aren't numbers are dropped
        {"9007199254740992,-9007199254740992", IconPlace{9007199254740992.0, -9007199254740992.0}},
        {"120", std::nullopt},
        {"1,2,3", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"12px,4", std::nullopt},
        {"nan,4", std::nullopt},
        {"4,inf", std::nullopt},
        {"-infinity,4", std::nullopt},
        {"1e300,4", std::nullopt},
        {"18014398509481984,4", std::nullopt},  // 2^54: can't be written back exactly
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DesktopIconPlaces::parsePosition(c.text), c.place) << '"' << c.text << '"';
    }
}

TEST(IconPositionTest, LocationsNameEveryByteExactly) {
    EXPECT_EQ(DesktopIconPlaces::locationArgument("/home/a/Desktop/x.txt"), "file:///home/a/Desktop/x.txt");
    EXPECT_EQ(DesktopIconPlaces::locationArgument("/d/-a b\"\\%\n\xff"), "file:///d/-a%20b%22%5C%25%0A%FF");
}

// A stand-in for gio: a script that notes each run, then behaves as `body` says.
class FakeGio {
public:
    explicit FakeGio(const std::string& body) : path_(dir_.path() + "/gio"), log_(dir_.path() + "/runs") {
        std::ofstream(path_) << "#!/bin/sh\necho run >> '" << log_ << "'\n" << body << "\n";
        ::chmod(path_.c_str(), 0755);
    }
    QString program() const { return QString::fromStdString(path_); }
    int runs() const {
        std::ifstream in(log_);
        int count = 0;
        for (std::string line; std::getline(in, line);) {
            ++count;
        }
        return count;
    }

private:
    test::TempDir dir_;
    std::string path_, log_;
};

TEST(IconPlacingToolTest, OnlyItemsDirectlyOnTheDesktopStartTheTool) {
    FakeGio gio("echo 'attributes:'; echo '  metadata::nautilus-icon-position: 7,9'");
    DesktopIconPlaces placing("/home/u/Desktop", gio.program());
    for (const char* path : {"/home/u/Desktop/sub/item", "/home/u/Documents/item", "/home/u/Desktop",
                             "/home/u/Desktopx/item", "relative/item"}) {
        EXPECT_EQ(placing.place(path), std::nullopt) << path;
    }
    EXPECT_EQ(gio.runs(), 0);
    EXPECT_EQ(placing.place("/home/u/Desktop/item"), (IconPlace{7, 9}));
    EXPECT_EQ(gio.runs(), 1);
}

TEST(IconPlacingToolTest, PlacesAreReadFromAThreadOfTheEngines) {
    FakeGio gio("echo 'attributes:'; echo '  metadata::caja-icon-position: 3,4'");
    DesktopIconPlaces placing("/d", gio.program());
    std::optional<IconPlace> place;
    std::thread engine([&] { place = placing.place("/d/item"); });
    engine.join();
    EXPECT_EQ(place, (IconPlace{3, 4}));
}

TEST(IconPlacingToolTest, FailuresGiveNone) {
    struct Case {
        const char* name;
        const char* body;
    };
    const Case cases[] = {
        {"failing status", "echo 'attributes:'; echo '  metadata::nautilus-icon-position: 7,9'; exit 1"},
        {"no metadata", "echo 'attributes:'"},
        {"key outside the attributes", "echo '  metadata::nautilus-icon-position: 7,9'; echo 'attributes:'"},
        {"three numbers", "echo 'attributes:'; echo '  metadata::nemo-icon-position: 1,2,3'"},
    };
    for (const Case& c : cases) {
        FakeGio gio(c.body);
        DesktopIconPlaces placing("/d", gio.program());
        EXPECT_EQ(placing.place("/d/item"), std::nullopt) << c.name;
    }
    DesktopIconPlaces missing("/d", "/nonexistent/gio");
    EXPECT_EQ(missing.place("/d/item"), std::nullopt);
}

TEST(IconPlacingToolTest, AToolPastItsDeadlineIsKilled) {
    FakeGio gio("exec sleep 30");
    DesktopIconPlaces placing("/d", gio.program());
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(placing.place("/d/item"), std::nullopt);
    EXPECT_GE(timer.elapsed(), 2900);
    EXPECT_LT(timer.elapsed(), 6000);
}

TEST(IconPlacingToolTest, RestoreTriesEightTimesAndStopsAtTheFirstSuccess) {
    struct Case {
        const char* body;
        int runs;
    };
    const Case cases[] = {
        {"exit 1", 8},
        {"[ $(wc -l < \"$(dirname \"$0\")/runs\") -ge 3 ]", 3},
        {"true", 1},
    };
    for (const Case& c : cases) {
        FakeGio gio(c.body);
        DesktopIconPlaces placing("/d", gio.program());
        placing.restore(IconPlace{1, 2}, "/d/item");
        ThreadPoolExecutor::shared()->finishWithin(std::chrono::seconds(30));
        EXPECT_EQ(gio.runs(), c.runs) << c.body;
    }
}

TEST(IconPlacingToolTest, PlacesThatCantBeWrittenAreNotRestored) {
    FakeGio gio("true");
    DesktopIconPlaces placing("/d", gio.program());
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e19};
    for (double value : bad) {
        placing.restore(IconPlace{value, 1}, "/d/item");
        placing.restore(IconPlace{1, -value}, "/d/item");
    }
    ThreadPoolExecutor::shared()->finishWithin(std::chrono::seconds(30));
    EXPECT_EQ(gio.runs(), 0);
}

// The real gio, its metadata store on a private session bus with data in a temp folder.
class RealGioTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty()) {
            GTEST_SKIP() << "gio is not installed (package libglib2.0-bin)";
        }
        if (bus_.skipReason()) {
            GTEST_SKIP() << *bus_.skipReason();
        }
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus_.address());
        environment_.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(dir_.path() + "/data"));
        desktop_ = dir_.path() + "/Desktop";
        ::mkdir(desktop_.c_str(), 0755);
        std::string probe = desktop_ + "/probe";
        ::close(::open(probe.c_str(), O_CREAT | O_WRONLY, 0644));
        if (!set(probe, "metadata::nautilus-icon-position", "1,1")) {
            GTEST_SKIP() << "gio can't store metadata here (package gvfs)";
        }
    }

    bool set(const std::string& path, const char* key, const char* value) {
        return DesktopIconPlaces::runTool(
                   QStringLiteral("gio"),
                   {QStringLiteral("set"), QStringLiteral("-n"), DesktopIconPlaces::locationArgument(path), QString::fromLatin1(key), QString::fromLatin1(value)},
                   environment_, 10000)
            .has_value();
    }

    test::TempDir dir_;
    test::PrivateBus bus_{true};
    QProcessEnvironment environment_;
    std::string desktop_;
};

TEST_F(RealGioTest, ReadsTheFirstPositionKeyAndRestoresItOnTheLink) {
    DesktopIconPlaces placing(desktop_, QStringLiteral("gio"), environment_);
    struct Case {
        std::string name;
        const char* key;
    };
    const Case cases[] = {
        {"plain.txt", "metadata::nautilus-icon-position"},
        {"-leading dash", "metadata::desktop-icon-position"},
        {"quote\" and \\ back", "metadata::nemo-icon-position"},
        {"line\nbreak", "metadata::caja-icon-position"},
        {"bytes \xff\xfe", "metadata::nautilus-icon-position"},
    };
    for (const Case& c : cases) {
        std::string path = desktop_ + "/" + c.name;
        ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644));
        EXPECT_EQ(placing.place(path), std::nullopt) << c.name;  // no position yet
        ASSERT_TRUE(set(path, c.key, "120,88")) << c.name;
        ASSERT_EQ(placing.place(path), (IconPlace{120, 88})) << c.name;

        // The item becomes a link; its place is written back under the key it came from.
        ::unlink(path.c_str());
        ASSERT_EQ(::symlink("/nowhere", path.c_str()), 0);
        placing.restore(IconPlace{-300.7, 40.2}, path);
        ThreadPoolExecutor::shared()->finishWithin(std::chrono::seconds(30));
        EXPECT_EQ(placing.place(path), (IconPlace{-300, 40})) << c.name;
    }
    // The first key in order wins.
    std::string both = desktop_ + "/both";
    ::close(::open(both.c_str(), O_CREAT | O_WRONLY, 0644));
    ASSERT_TRUE(set(both, "metadata::caja-icon-position", "1,2"));
    ASSERT_TRUE(set(both, "metadata::nautilus-icon-position", "3,4"));
    EXPECT_EQ(placing.place(both), (IconPlace{3, 4}));
}

}  // namespace
}  // namespace keldwick
