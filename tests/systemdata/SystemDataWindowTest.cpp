#include "systemdata/SystemDataWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

#include "support/KeyboardWalk.h"
#include "support/TempDir.h"
#include "support/FakeWindowHost.h"
#include "systemdata/SystemDataHost.h"

namespace keldwick {
namespace {

// Answers each call only when the test says so, as a background thread would later.
class FakeHost final : public test::FakeWindowHost<SystemDataHost> {
public:
    std::vector<std::function<void(std::vector<CacheLocation>)>> cacheCalls;
    std::vector<std::function<void(std::vector<MovableData>)>> movableCalls;
    std::vector<std::vector<CacheLocation>> cleared;
    std::function<void(CacheClearing)> clearDone;
    std::vector<std::string> moved;
    std::function<void(std::optional<std::string>)> moveDone;

    FakeHost() { clock = Date{1'700'000'000}; }

    void cacheLocations(std::function<void(std::vector<CacheLocation>)> done) override {
        cacheCalls.push_back(std::move(done));
    }
    void clearCaches(std::vector<CacheLocation> locations, std::function<void(CacheClearing)> done) override {
        cleared.push_back(std::move(locations));
        clearDone = std::move(done);
    }
    void findMovable(std::function<void(std::vector<MovableData>)> done) override {
        movableCalls.push_back(std::move(done));
    }
    void moveToDrive(std::vector<std::string> paths, std::function<void(std::optional<std::string>)> done) override {
        moved.insert(moved.end(), paths.begin(), paths.end());
        moveDone = std::move(done);
    }
    QIcon appIcon(const std::string& itemName) override {
        iconsAsked.push_back(itemName);
        return apps.count(itemName) ? apps[itemName] : QIcon();
    }
    std::map<std::string, QIcon> apps;
    std::vector<std::string> iconsAsked;
};

CacheLocation cache(const std::string& name, int64_t size, bool byDefault) {
    CacheLocation location;
    location.name = name;
    location.size = size;
    location.selectedByDefault = byDefault;
    return location;
}

MovableData movable(const std::string& path, const std::string& name) {
    MovableData item;
    item.path = path;
    item.name = name;
    item.kind = MovableData::Kind::emulator;
    item.size = 5'000'000'000;
    return item;
}

struct SystemDataWindowTest : ::testing::Test {
    FakeHost host;
    bool asked = false;
    QString question;
    void SetUp() override {
        host.model.settings.onboardingComplete = true;
        host.model.driveRoot = drive.path();
    }
    SystemDataWindow* open() {
        return new SystemDataWindow(host, [this](QWidget*, const QString& title) {
            asked = true;
            question = title;
            return true;
        });
    }
    test::TempDir drive;
    test::TempDir home;
};

TEST_F(SystemDataWindowTest, CachesAreStoredBeforeTheMovableItemsAndTicksFollowTheDefaults) {
    std::unique_ptr<SystemDataWindow> window(open());
    ASSERT_EQ(host.cacheCalls.size(), 1u);
    ASSERT_EQ(host.movableCalls.size(), 1u);
    EXPECT_FALSE(window->clearButton()->isEnabled());
    host.movableCalls[0]({movable("/h/avd", "avd")});
    EXPECT_FALSE(window->view().movable) << "the search ended first but waits for the caches";
    host.cacheCalls[0]({cache("Browsers", 1'000'000'000, true), cache("Tools", 2'000'000'000, false)});
    ASSERT_TRUE(window->view().movable);
    ASSERT_EQ(window->cacheBoxes().size(), 2u);
    EXPECT_TRUE(window->cacheBoxes()[0]->isChecked());
    EXPECT_FALSE(window->cacheBoxes()[1]->isChecked());
    EXPECT_EQ(window->clearButton()->text(), QString::fromUtf8("Clear 1.00 GB\u2026"));
    window->cacheBoxes()[1]->setChecked(true);
    EXPECT_EQ(window->clearButton()->text(), QString::fromUtf8("Clear 3.00 GB\u2026"));
    ASSERT_EQ(window->moveButtons().size(), 1u);
    EXPECT_TRUE(window->moveButtons()[0]->isEnabled());
}

TEST_F(SystemDataWindowTest, WorkedByKeyboardAndReadAsPlainText) {
    std::unique_ptr<SystemDataWindow> window(open());
    host.movableCalls[0]({movable("/h/avd", "avd <b>x</b>")});
    host.cacheCalls[0]({cache("Browsers", 1'000'000'000, true), cache("Tools", 2'000'000'000, false)});
    ASSERT_TRUE(test::activateForKeys(*window));
    EXPECT_EQ(test::keyboardOrderProblem(*window), "");
    // A name that looks like markup is data, read as written; the window adds none of its own.
    for (const std::string& found : test::accessibleMarkup(*window))
        EXPECT_NE(found.find("avd <b>x</b>"), std::string::npos) << found;
}

TEST_F(SystemDataWindowTest, ClearingTheChosenCachesReportsWhatStayedAndMeasuresAgain) {
    std::unique_ptr<SystemDataWindow> window(open());
    host.cacheCalls[0]({cache("Browsers", 1'000'000'000, true), cache("Tools", 2'000'000'000, false)});
    window->clearButton()->click();
    ASSERT_EQ(host.cacheCalls.size(), 2u);
    host.cacheCalls[1]({cache("Browsers", 1'000'000'000, true), cache("Tools", 2'000'000'000, false)});
    EXPECT_TRUE(asked);
    ASSERT_EQ(host.cleared.size(), 1u);
    ASSERT_EQ(host.cleared[0].size(), 1u);
    EXPECT_EQ(host.cleared[0][0].name, "Browsers");
    EXPECT_FALSE(window->clearButton()->isEnabled()) << "one clearing at a time";
    EXPECT_EQ(window->footerLabel()->text(), QString::fromUtf8(kClearingCaches));
    host.clearDone({900'000'000, 1});
    EXPECT_EQ(window->footerLabel()->text(),
              QString::fromUtf8("Freed 900 MB. 1 item was open in an app, so it stayed."));
    ASSERT_EQ(host.cacheCalls.size(), 3u);
    host.cacheCalls[2]({cache("Browsers", 100'000'000, true), cache("Tools", 2'000'000'000, false)});
    EXPECT_EQ(window->view().chosen, (std::set<std::string>{"Browsers"}));
    EXPECT_EQ(window->clearButton()->text(), QString::fromUtf8("Clear 100 MB\u2026"));
}

// The caches grew since the window opened (or shrank to nothing): the question names what
// clearing would free when it is asked, and nothing is asked with nothing to clear.
TEST_F(SystemDataWindowTest, TheQuestionNamesTheSizeMeasuredWhenItIsAsked) {
    std::unique_ptr<SystemDataWindow> window(open());
    host.cacheCalls[0]({cache("Browsers", 4'100, true)});
    window->clearButton()->click();
    EXPECT_FALSE(asked) << "not before the caches are measured again";
    EXPECT_FALSE(window->clearButton()->isEnabled());
    EXPECT_EQ(window->footerLabel()->text(), QString::fromUtf8(kAddingUp));
    ASSERT_EQ(host.cacheCalls.size(), 2u);
    host.cacheCalls[1]({cache("Browsers", 5'000'000, true)});
    EXPECT_EQ(question, QString::fromUtf8("Delete 5.00 MB of caches?"));
    ASSERT_EQ(host.cleared.size(), 1u);
    EXPECT_EQ(host.cleared[0][0].size, 5'000'000);
    host.clearDone({5'000'000, 0});
    host.cacheCalls[2]({cache("Browsers", 3'000, true)});

    asked = false;
    window->clearButton()->click();
    host.cacheCalls[3]({});
    EXPECT_FALSE(asked);
    EXPECT_EQ(host.cleared.size(), 1u);
}

TEST_F(SystemDataWindowTest, MovingOneItem) {
    const std::string target = drive / "Keldwick/avd";
    test::makeDirs(target);
    struct Case {
        const char* what;
        bool link;
        std::optional<std::string> returned;
        QString message;
        size_t rowsLeft;
    };
    const std::vector<Case> cases = {
        {"a link into the drive", true, std::string("noted"), QString::fromUtf8("Moved \u201Cavd\u201D to your drive."), 0},
        {"left in place", false, std::nullopt, QString::fromUtf8("Couldn't move \u201Cavd\u201D."), 1},
        {"refused", false, std::string("Try again once it's done."), QStringLiteral("Try again once it's done."), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = home / "avd";
        ::unlink(path.c_str());
        host.moveDone = nullptr;
        host.cacheCalls.clear();
        host.movableCalls.clear();
        std::unique_ptr<SystemDataWindow> window(open());
        host.cacheCalls[0]({});
        host.movableCalls[0]({movable(path, "avd")});
        window->moveButtons()[0]->click();
        ASSERT_TRUE(host.moveDone);
        EXPECT_FALSE(window->moveButtons()[0]->isEnabled());
        EXPECT_EQ(window->footerLabel()->text(), QString::fromUtf8("Moving \u201Cavd\u201D to your drive\u2026"));
        if (c.link) {
            ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
        }
        host.moveDone(c.returned);
        EXPECT_EQ(window->footerLabel()->text(), c.message);
        EXPECT_EQ(window->view().movable->size(), c.rowsLeft);
    }
}

TEST_F(SystemDataWindowTest, AppFilesShowTheirAppsIcon) {
    QPixmap red(32, 32);
    red.fill(Qt::red);
    host.apps["Steam"] = QIcon(red);
    MovableData steam = movable(home / "Steam", "Steam"), unknown = movable(home / "Obscure", "Obscure");
    steam.kind = unknown.kind = MovableData::Kind::appFiles;
    std::unique_ptr<SystemDataWindow> window(open());
    host.cacheCalls[0]({});
    host.movableCalls[0]({steam, unknown, movable(home / "avd", "avd")});
    // Only app files ask for an app; the others show their kind's symbol.
    EXPECT_EQ(host.iconsAsked, (std::vector<std::string>{"Steam", "Obscure"}));
    ASSERT_EQ(window->moveButtons().size(), 3u);
    auto iconOf = [&](size_t row) {
        return window->moveButtons()[row]->parentWidget()->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)
            ->pixmap();
    };
    EXPECT_EQ(iconOf(0).size(), QSize(28, 28));
    EXPECT_EQ(iconOf(0).toImage().pixelColor(14, 14), QColor(Qt::red));
    EXPECT_EQ(iconOf(1).size(), QSize(24, 24));
    EXPECT_EQ(iconOf(2).size(), QSize(24, 24));
}

TEST_F(SystemDataWindowTest, UnpluggedDriveAndOpenItemsKeepMoveOff) {
    host.model.driveRoot.reset();
    std::unique_ptr<SystemDataWindow> window(open());
    host.cacheCalls[0]({});
    MovableData open = movable("/h/b", "b");
    open.openIn = "Emulator";
    host.movableCalls[0]({movable("/h/a", "a"), open});
    EXPECT_EQ(window->movableSubtitleLabel()->text(), QStringLiteral("Plug in your drive to move these."));
    EXPECT_FALSE(window->moveButtons()[0]->isEnabled());
    host.model.driveRoot = drive.path();
    emit host.stateChanged();
    EXPECT_TRUE(window->moveButtons()[0]->isEnabled());
    EXPECT_FALSE(window->moveButtons()[1]->isEnabled());
    window->moveButtons()[1]->click();
    EXPECT_TRUE(host.moved.empty());
}

TEST_F(SystemDataWindowTest, AnswersAfterClosingAreDropped) {
    SystemDataWindow* window = open();
    delete window;
    host.cacheCalls[0]({cache("Browsers", 1, true)});
    host.movableCalls[0]({});
    SUCCEED();
}

}  // namespace
}  // namespace keldwick
