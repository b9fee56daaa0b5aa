#include "desktop/Notifier.h"

#include "desktop/PrivateBus.h"

#include <QDBusConnection>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace keldwick {
namespace {

// A notification server of the tests' own: it records each Notify call and hands out ids
// as real servers do (the replaced id again, else a new one).
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        uint replacesId = 0;
        QString summary, body;
        QStringList actions;
        uint id = 0;
    };
    QStringList capabilities{QStringLiteral("actions")};
    std::vector<Call> calls;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        uint id = replacesId != 0 ? replacesId : ++lastId_;
        calls.push_back({replacesId, summary, body, actions, id});
        return id;
    }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }

signals:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    uint lastId_ = 0;
};

class NotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.skipReason()) {
            GTEST_SKIP() << *bus_.skipReason();
        }
        client_ = bus_.connect();
        ASSERT_TRUE(client_.isConnected());
        notifier_ = std::make_unique<Notifier>(client_);
        notifier_->onOpen = [this](Notifier::Target target) { opened_.push_back(target); };
    }

    void startServer(QStringList capabilities = {QStringLiteral("actions")}) {
        server_.capabilities = std::move(capabilities);
        QDBusConnection connection = bus_.connect();
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server_,
                                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    // Waits until the server has seen `count` calls.
    bool waitForCalls(size_t count) {
        return QTest::qWaitFor([&] { return server_.calls.size() >= count; }, 5000);
    }

    void click(uint id, const QString& action = QStringLiteral("default")) {
        size_t before = opened_.size();
        emit server_.ActionInvoked(id, action);
        // Signals carry no reply to wait for: give the bus a moment either way.
        (void)QTest::qWaitFor([&] { return opened_.size() > before; }, 300);
    }

    test::PrivateBus bus_;
    QDBusConnection client_{QString()};
    FakeNotificationServer server_;
    std::unique_ptr<Notifier> notifier_;
    std::vector<Notifier::Target> opened_;
};

TEST(NotifierTargetTest, RawValuesRoundTripAndOtherTextsGiveNone) {
    using T = Notifier::Target;
    for (T target : {T::preview, T::suggested, T::offloaded, T::menu}) {
        EXPECT_EQ(Notifier::parseTarget(Notifier::toString(target)), target);
    }
    for (const char* raw : {"", "Preview", "menu ", "drive-full"}) {
        EXPECT_EQ(Notifier::parseTarget(raw), std::nullopt) << raw;
    }
}

TEST_F(NotifierTest, FixedIdentifiersReplaceTheirNoticeAndFreshOnesAccumulate) {
    startServer();
    notifier_->post("drive-full", "Drive full", "first", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(1));
    notifier_->post("drive-full", "Drive full", "second", Notifier::Target::offloaded);
    notifier_->post("ask-first", "Ask", "b", Notifier::Target::preview);
    notifier_->post("8b0f4a7e-uuid-1", "Freed", "c", Notifier::Target::offloaded);
    notifier_->post("8b0f4a7e-uuid-2", "Freed", "d", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(5));

    // The server sees the calls in any order: find each by its body.
    auto call = [&](const char* body) {
        for (const auto& c : server_.calls) {
            if (c.body == body) {
                return c;
            }
        }
        ADD_FAILURE() << "no call with body " << body;
        return FakeNotificationServer::Call{};
    };
    EXPECT_EQ(call("first").replacesId, 0u);
    EXPECT_EQ(call("first").summary, "Drive full");
    EXPECT_TRUE(call("first").actions.contains(QStringLiteral("default")));
    EXPECT_EQ(call("second").replacesId, call("first").id);
    for (const char* body : {"b", "c", "d"}) {
        EXPECT_EQ(call(body).replacesId, 0u) << body;
    }
}

TEST_F(NotifierTest, PostsOfOneIdentifierInQuickSuccessionStillReplace) {
    startServer();
    // None of these waits for the server's answer to the one before.
    notifier_->post("test-run", "Test run", "1", Notifier::Target::menu);
    notifier_->post("test-run", "Test run", "2", Notifier::Target::menu);
    notifier_->post("test-run", "Test run", "3", Notifier::Target::menu);
    ASSERT_TRUE(waitForCalls(2));
    QTest::qWait(100);

    // The middle post was superseded before it could be sent; the last one replaces the first.
    ASSERT_EQ(server_.calls.size(), 2u);
    EXPECT_EQ(server_.calls[0].body, "1");
    EXPECT_EQ(server_.calls[1].body, "3");
    EXPECT_EQ(server_.calls[1].replacesId, server_.calls[0].id);
}

TEST_F(NotifierTest, AClickOpensTheNoticesTarget) {
    startServer();
    const std::vector<std::pair<std::string, Notifier::Target>> notices = {
        {"drive-offline", Notifier::Target::offloaded}, {"ask-first", Notifier::Target::preview},
        {"nothing-to-move", Notifier::Target::menu},    {"move-chosen", Notifier::Target::offloaded},
        {"suggest", Notifier::Target::suggested},
    };
    for (const auto& [identifier, target] : notices) {
        notifier_->post(identifier, "title", "body", target);
    }
    ASSERT_TRUE(waitForCalls(notices.size()));
    for (size_t i = 0; i < notices.size(); ++i) {
        click(server_.calls[i].id);
        ASSERT_EQ(opened_.size(), i + 1);
        EXPECT_EQ(opened_.back(), notices[i].second) << notices[i].first;
    }

    // Another program's notice, and an action other than the click, open nothing.
    click(999);
    click(server_.calls[0].id, QStringLiteral("dismiss"));
    EXPECT_EQ(opened_.size(), notices.size());
}

TEST_F(NotifierTest, AClosedNoticeIsForgotten) {
    startServer();
    notifier_->post("files-problem", "Problem", "a", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(1));
    uint id = server_.calls[0].id;
    emit server_.NotificationClosed(id, 2);
    QTest::qWait(100);

    click(id);
    EXPECT_TRUE(opened_.empty());
    notifier_->post("files-problem", "Problem", "b", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(server_.calls[1].replacesId, 0u);
}

TEST_F(NotifierTest, AClickBeforeOnOpenIsSetDoesNothing) {
    startServer();
    notifier_->onOpen = nullptr;
    notifier_->post("ask-first", "Ask", "body", Notifier::Target::preview);
    ASSERT_TRUE(waitForCalls(1));
    click(server_.calls[0].id);
    EXPECT_TRUE(opened_.empty());
}

TEST_F(NotifierTest, BodiesAreEscapedOnlyForServersThatReadMarkup) {
    struct Case {
        QStringList capabilities;
        QString body;
    };
    const std::vector<Case> cases = {
        {{QStringLiteral("actions")}, QStringLiteral("Moved <b>&x> to Drive")},
        {{QStringLiteral("actions"), QStringLiteral("body-markup")}, QStringLiteral("Moved &lt;b&gt;&amp;x&gt; to Drive")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Notifier::bodyText("Moved <b>&x> to Drive", c.capabilities.contains("body-markup")), c.body);
    }
    startServer(cases[1].capabilities);
    notifier_->post("move-chosen", "Title <i>", "Moved <b>&x> to Drive", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(server_.calls[0].body, cases[1].body);
    EXPECT_EQ(server_.calls[0].summary, "Title <i>");  // the summary is always plain text
}

TEST_F(NotifierTest, DisabledNoticesNeverReachTheServer) {
    startServer();
    notifier_->isEnabled = false;
    for (const char* identifier : {"drive-offline", "ask-first", "drive-full", "nothing-to-move", "test-run",
                                   "move-chosen", "files-problem", "c1d2-fresh"}) {
        notifier_->post(identifier, "t", "b", Notifier::Target::menu);
    }
    notifier_->isEnabled = true;
    notifier_->post("drive-full", "t", "enabled again", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(1));
    QTest::qWait(100);
    ASSERT_EQ(server_.calls.size(), 1u);
    EXPECT_EQ(server_.calls[0].body, "enabled again");
}

TEST_F(NotifierTest, WithoutAServerPostsAreQuietNoOpsUntilOneAppears) {
    notifier_->post("drive-full", "t", "nobody listens", Notifier::Target::offloaded);
    notifier_->post("ask-first", "t", "nobody listens", Notifier::Target::preview);
    QTest::qWait(300);

    startServer();
    notifier_->post("drive-full", "t", "heard", Notifier::Target::offloaded);
    ASSERT_TRUE(waitForCalls(1));
    QTest::qWait(100);
    ASSERT_EQ(server_.calls.size(), 1u);
    EXPECT_EQ(server_.calls[0].body, "heard");
    EXPECT_EQ(server_.calls[0].replacesId, 0u);
}

}  // namespace
}  // namespace keldwick

#include "NotifierTest.moc"
