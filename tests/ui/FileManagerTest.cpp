#include "ui/FileManager.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "desktop/PrivateBus.h"

namespace keldwick {
namespace {

// A file manager of the test's own, recording what it was asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    std::vector<std::pair<QString, QStringList>> calls;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { calls.emplace_back("ShowItems", uris); }
    void ShowFolders(const QStringList& uris, const QString&) { calls.emplace_back("ShowFolders", uris); }
};

class FileManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.skipReason()) GTEST_SKIP() << *bus_.skipReason();
    }

    void startFileManager() {
        QDBusConnection connection = bus_.connect();
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &server_,
                                              QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    }

    // The default application opens what it is given unless `opens_` is false.
    std::unique_ptr<FileManager> make() {
        return std::make_unique<FileManager>(
            bus_.connect(),
            [this](const QUrl& url, std::function<void(bool)> done) {
                opened_.push_back(url.toString());
                done(opens_);
            },
            [this](const QString& message) { told_.push_back(message); });
    }

    test::PrivateBus bus_;
    FakeFileManager server_;
    std::vector<QString> opened_;
    std::vector<QString> told_;
    bool opens_ = true;
};

TEST_F(FileManagerTest, AsksTheFileManagerWithFileUris) {
    startFileManager();
    std::unique_ptr<FileManager> owned = make();
    FileManager& files = *owned;
    struct Case {
        void (FileManager::*call)(const std::vector<std::string>&);
        std::vector<std::string> paths;
        QString method;
        QStringList uris;
    };
    const Case cases[] = {
        {&FileManager::showItems, {"/home/u/a b.txt", "/home/u/Docs"}, "ShowItems",
         {"file:///home/u/a%20b.txt", "file:///home/u/Docs"}},
        {&FileManager::showFolders, {"/media/u/Archive/Keldwick"}, "ShowFolders",
         {"file:///media/u/Archive/Keldwick"}},
        {&FileManager::showItems, {"/home/u/#1 100%.txt"}, "ShowItems", {"file:///home/u/%231%20100%25.txt"}},
    };
    size_t expected = 0;
    for (const Case& c : cases) {
        (files.*c.call)(c.paths);
        ++expected;
        ASSERT_TRUE(QTest::qWaitFor([&] { return server_.calls.size() == expected; }, 5000));
        EXPECT_EQ(server_.calls.back().first, c.method);
        EXPECT_EQ(server_.calls.back().second, c.uris);
    }
    files.showItems({});  // nothing asked for, nothing sent
    QTest::qWait(100);
    EXPECT_EQ(server_.calls.size(), expected);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(FileManagerTest, WithoutAFileManagerTheFolderOpens) {
    std::unique_ptr<FileManager> owned = make();
    FileManager& files = *owned;
    QSignalSpy fellBack(&files, &FileManager::fellBack);

    files.showItems({"/home/u/Docs/a.txt", "/home/u/Other/b.txt"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return fellBack.count() == 1; }, 5000));
    EXPECT_EQ(opened_, std::vector<QString>{"file:///home/u/Docs"});

    files.showFolders({"/home/u/Docs", "/home/u/Other"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return fellBack.count() == 2; }, 5000));
    EXPECT_EQ(opened_, (std::vector<QString>{"file:///home/u/Docs", "file:///home/u/Docs", "file:///home/u/Other"}));

    files.open("/home/u/Docs/a.txt");
    EXPECT_EQ(opened_.back(), "file:///home/u/Docs/a.txt");
    EXPECT_TRUE(told_.empty());

    // No bus at all: the folder opens at once.
    FileManager offline(
        QDBusConnection(QStringLiteral("not-connected")),
        [this](const QUrl& url, std::function<void(bool)> done) {
            opened_.push_back(url.toString());
            done(true);
        },
        [this](const QString& message) { told_.push_back(message); });
    offline.showItems({"/srv/x"});
    EXPECT_EQ(opened_.back(), "file:///srv");
    EXPECT_TRUE(told_.empty());
}

TEST_F(FileManagerTest, WhenNothingCanShowOrOpenAnItemTheUserIsTold) {
    opens_ = false;
    std::unique_ptr<FileManager> owned = make();
    FileManager& files = *owned;
    QSignalSpy failed(&files, &FileManager::failed);

    files.showItems({"/home/u/Docs/a.txt"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, 5000));
    EXPECT_EQ(told_, std::vector<QString>{FileManager::couldNotShowText("a.txt")});
    EXPECT_EQ(failed.at(0).at(0).toString(), told_.back());

    // Two folders that fail alike are told once.
    files.showFolders({"/media/u/Archive/Keldwick", "/media/u/Archive/Other"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 2; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(told_.size(), 2u);
    EXPECT_EQ(told_.back(), FileManager::couldNotShowText("Keldwick"));

    files.open("/home/u/Docs/report.ods");
    EXPECT_EQ(told_.back(), FileManager::couldNotOpenText("report.ods"));
    EXPECT_NE(told_.back().indexOf(QStringLiteral("\u201creport.ods\u201d")), -1);
}

TEST(DesktopOpenerTest, AnAddressNothingCanOpenIsAnsweredAsNotOpened) {
    // xdg-open exits non-zero for a file that doesn't exist (or isn't there at all).
    std::optional<bool> answer;
    FileManager::openWithDesktop(QUrl::fromLocalFile(QStringLiteral("/nonexistent/keldwick-test/none.txt")),
                                 [&](bool opened) { answer = opened; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 15000));
    EXPECT_FALSE(*answer);
}

}  // namespace
}  // namespace keldwick

#include "FileManagerTest.moc"
