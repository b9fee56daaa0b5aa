#include <gtest/gtest.h>

#include <QString>
#include <thread>
#include <utility>
#include <vector>

#include "model/DriveLog.h"
#include "model/LogSink.h"
#include "support/CapturedLog.h"

namespace keldwick {
namespace {

TEST(LogSinkTest, QtCategoriesAndLevelsBecomeTheSystemLogs) {
    struct Category {
        const char* qt;
        std::string logged;
    };
    const std::vector<Category> categories = {
        {"com.orvandel.Keldwick.drive", "drive"},
        {"com.orvandel.Keldwick.update.feed", "update.feed"},
        {"default", "program"},
        {nullptr, "program"},
        {"", "program"},
        {"com.orvandel.Keldwick.", "com.orvandel.Keldwick."},  // no name after the prefix
        {"qt.dbus.integration", "qt.dbus.integration"},
    };
    for (const auto& c : categories) EXPECT_EQ(LogSink::category(c.qt), c.logged) << (c.qt ? c.qt : "null");

    EXPECT_EQ(LogSink::level(QtDebugMsg), Log::Level::debug);
    EXPECT_EQ(LogSink::level(QtInfoMsg), Log::Level::info);
    EXPECT_EQ(LogSink::level(QtWarningMsg), Log::Level::notice);
    EXPECT_EQ(LogSink::level(QtCriticalMsg), Log::Level::error);
    EXPECT_EQ(LogSink::level(QtFatalMsg), Log::Level::fault);
}

// Messages still reach the handler that was there before, unchanged.
TEST(LogSinkTest, ThePreviousHandlerStillGetsEveryMessage) {
    static std::vector<std::pair<QtMsgType, QString>> seen;
    seen.clear();
    const QtMessageHandler original = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) { seen.emplace_back(type, message); });
    LogSink::install();
    qWarning("keldwick: a warning");
    qInfo("an info");
    qInstallMessageHandler(original);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(QtWarningMsg, QStringLiteral("keldwick: a warning")));
    EXPECT_EQ(seen[1], std::make_pair(QtInfoMsg, QStringLiteral("an info")));
}

// The tests' capture of one category keeps its messages, passes the rest on, also from
// other threads, and puts the handler it replaced back.
TEST(LogSinkTest, ACapturedCategoryIsKeptAndEverythingElsePassedOn) {
    static std::vector<QString> passedOn;
    passedOn.clear();
    const QtMessageHandler record = [](QtMsgType, const QMessageLogContext&, const QString& message) {
        passedOn.push_back(message);
    };
    const QtMessageHandler before = qInstallMessageHandler(record);
    {
        test::CapturedLog drive(keldwickDriveLog());
        qCInfo(keldwickDriveLog).noquote() << QStringLiteral("Drive connected");
        qWarning("a warning of the program");
        std::thread([] { qCInfo(keldwickDriveLog, "from a worker"); }).join();
        EXPECT_EQ(drive.lines(), (std::vector<std::string>{"Drive connected", "from a worker"}));
        drive.clear();
        EXPECT_TRUE(drive.lines().empty());
    }
    qCInfo(keldwickDriveLog, "after the capture");
    EXPECT_EQ(qInstallMessageHandler(before), record);
    EXPECT_EQ(passedOn, (std::vector<QString>{"a warning of the program", "after the capture"}));
}

}  // namespace
}  // namespace keldwick
