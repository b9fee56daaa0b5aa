#include "desktop/Updater.h"

#include "desktop/Appcast.h"
#include "desktop/EdSignature.h"
#include "desktop/SigningKey.h"
#include "desktop/UpdateArchives.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>

namespace keldwick {
namespace {

// A certificate for 127.0.0.1 made by the openssl tool for this run, which the program's
// requests then trust like any other.
struct LocalCertificate {
    QSslCertificate certificate;
    QSslKey key;

    static const LocalCertificate& shared() {
        static const LocalCertificate made = [] {
            LocalCertificate local;
            QTemporaryDir dir;
            const std::string command =
                "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 "
                "-addext subjectAltName=IP:127.0.0.1 -keyout '" + dir.path().toStdString() + "/key.pem' -out '" +
                dir.path().toStdString() + "/cert.pem' >/dev/null 2>&1";
            if (std::system(command.c_str()) != 0) return local;
            QFile certificate(dir.filePath(QStringLiteral("cert.pem"))), key(dir.filePath(QStringLiteral("key.pem")));
            if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) return local;
            local.certificate = QSslCertificate(certificate.readAll());
            local.key = QSslKey(key.readAll(), QSsl::Ec);
            QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
            trusted.addCaCertificate(local.certificate);
            QSslConfiguration::setDefaultConfiguration(trusted);
            return local;
        }();
        return made;
    }
    bool usable() const { return !certificate.isNull() && !key.isNull(); }
};

// Serves fixed files over HTTP/1.0 on the loopback interface, through TLS: https
// addresses. `redirects` answers a path with a redirect to another address.
class FeedServer : public QObject {
public:
    FeedServer() {
        const LocalCertificate& local = LocalCertificate::shared();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(local.certificate);
        configuration.setPrivateKey(local.key);
        server_.setSslConfiguration(configuration);
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString& path) const {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }

    std::map<QString, QByteArray> files;
    std::map<QString, QString> redirects;

private:
    void answer(QTcpSocket* socket) {
        QByteArray& request = pending_[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        QString path = QString::fromLatin1(request.split(' ').value(1));
        pending_.erase(socket);
        if (auto moved = redirects.find(path); moved != redirects.end()) {
            socket->write("HTTP/1.0 302 Found\r\nLocation: " + moved->second.toUtf8() + "\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        auto found = files.find(path);
        QByteArray body = found == files.end() ? QByteArray("missing") : found->second;
        socket->write((found == files.end() ? "HTTP/1.0 404 Not Found\r\n" : "HTTP/1.0 200 OK\r\n") +
                      QByteArray("Content-Length: ") + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QSslServer server_;
    std::map<QTcpSocket*, QByteArray> pending_;
};

QByteArray feed(const QString& items) {
    return (QStringLiteral("<?xml version=\"1.0\"?>\n<rss version=\"2.0\" "
                           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
                           "<title>Keldwick</title>") +
            items + QStringLiteral("</channel></rss>"))
        .toUtf8();
}

QString item(const QString& version, const QString& display, const QString& archive, const QString& signature,
             const QString& link = QString()) {
    return QStringLiteral("<item><title>Keldwick %1</title><sparkle:version>%2</sparkle:version>"
                          "<sparkle:shortVersionString>%1</sparkle:shortVersionString>%5"
                          "<enclosure url=\"%3\" sparkle:edSignature=\"%4\" type=\"application/octet-stream\"/>"
                          "</item>")
        .arg(display, version, archive, signature, link.isEmpty() ? QString() : "<link>" + link + "</link>");
}

TEST(UpdaterSettingsTest, ConfiguredOnlyWithAFeedWithAHostAndAKey) {
    struct Case {
        QString feed, key;
        bool configured;
    };
    const QString key = QStringLiteral("bm90IGEgcmVhbCBrZXk=");
    const Case cases[] = {
        {QStringLiteral("https://example.com/appcast.xml"), key, true},
        {QStringLiteral("appcast.xml"), key, false},
        {QStringLiteral("/srv/appcast.xml"), key, false},
        {QStringLiteral("file:///srv/appcast.xml"), key, false},
        {QStringLiteral("https://YOUR-SITE.example/appcast.xml"), key, false},
        {QStringLiteral("https://example.com/appcast.xml"), QStringLiteral(""), false},
        {QString(), key, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(updatesConfigured(UpdaterConfiguration{"1.0", "100", c.feed, c.key}), c.configured)
            << c.feed.toStdString();
    }
    // This build sets none: updates are off.
    EXPECT_FALSE(updatesConfigured(buildConfiguration()));
}

TEST(UpdaterSettingsTest, VersionTextMarksWhatIsMissing) {
    EXPECT_EQ(appVersionText(UpdaterConfiguration{}), "? (?)");
    EXPECT_EQ(appVersionText(UpdaterConfiguration{"1.2", "120", {}, {}}), "1.2 (120)");
    EXPECT_EQ(appVersionText(UpdaterConfiguration{{}, "120", {}, {}}), "? (120)");
    EXPECT_EQ(appVersionText(), "0.1.0 (0.1.0)");
}

TEST(AppcastTest, VersionsCompareByTheirNumbers) {
    struct Case {
        const char *a, *b;
        int order;
    };
    const Case cases[] = {
        {"1.10", "1.9", 1},   {"1.2", "1.2.0", 0},   {"1.2.1", "1.2", 1},        {"1.2b1", "1.2", -1},
        {"2", "10", -1},      {"1.0-beta", "1.0", -1}, {"007", "7", 0},          {"99999999999999999999", "1", 1},
        {"1.0a", "1.0b", -1}, {"120", "120", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Appcast::compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(Appcast::compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(AppcastTest, ParsesItemsAndPicksTheNewestAboveTheRunningVersion) {
    QByteArray document = feed(item("110", "1.1", "https://example.com/k-1.1.tar.gz", "c2ln") +
                               item("130", "1.3", "https://example.com/k-1.3.tar.gz", "c2ln",
                                    "https://example.com/releases/1.3") +
                               item("120", "1.2", "https://example.com/k-1.2.tar.gz", "c2ln") +
                               "<item><title>no enclosure</title><sparkle:version>900</sparkle:version></item>" +
                               item("", "", "https://example.com/unversioned.tar.gz", "c2ln"));
    std::vector<AppcastItem> items = Appcast::parse(document);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].title, "Keldwick 1.3");
    EXPECT_EQ(items[1].displayVersion, "1.3");
    EXPECT_EQ(items[1].link, QUrl("https://example.com/releases/1.3"));
    EXPECT_EQ(items[1].archive, QUrl("https://example.com/k-1.3.tar.gz"));
    EXPECT_EQ(items[1].signature, "c2ln");

    EXPECT_EQ(Appcast::newest(items, "100")->version, "130");
    EXPECT_EQ(Appcast::newest(items, "120")->version, "130");
    EXPECT_FALSE(Appcast::newest(items, "130").has_value());

    for (const QByteArray& bad : {QByteArray("<rss><channel><item>"), QByteArray("not xml"),
                                  QByteArray("<html><body/></html>"), QByteArray()}) {
        EXPECT_THROW(Appcast::parse(bad), AppcastError) << bad.toStdString();
    }
}

TEST(EdSignatureTest, OnlyTheKeysSignatureOfTheseBytesVerifies) {
    test::SigningKey key, other;
    const QByteArray archive("the archive's bytes");
    const QString signature = key.sign(archive);
    EXPECT_TRUE(EdSignature::verify(archive, signature, key.publicKey()));

    QByteArray tampered = archive;
    tampered[0] = 'T';
    EXPECT_FALSE(EdSignature::verify(tampered, signature, key.publicKey()));
    EXPECT_FALSE(EdSignature::verify(archive, other.sign(archive), key.publicKey()));
    EXPECT_FALSE(EdSignature::verify(archive, signature, other.publicKey()));
    EXPECT_FALSE(EdSignature::verify(archive, signature.left(20), key.publicKey()));
    EXPECT_FALSE(EdSignature::verify(archive, "!!" + signature, key.publicKey()));
    EXPECT_FALSE(EdSignature::verify(archive, signature, "c2hvcnQ="));
    EXPECT_FALSE(EdSignature::verify(archive, QString(), key.publicKey()));
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LocalCertificate::shared().usable()) GTEST_SKIP() << "the openssl tool couldn't make a certificate";
    }

    // Without an installation it can replace, installing opens the download page.
    std::unique_ptr<Updater> makeUpdater(const QString& feedUrl,
                                         SelfInstall::Installation installation = {std::nullopt, "100", "no"},
                                         QSettings* store = nullptr) {
        const UpdaterConfiguration configuration{"1.0", "100", feedUrl, key_.publicKey()};
        auto updater = std::make_unique<Updater>(configuration, installation, store);
        updater->controller()->openPage = [this](const QUrl& url) { opened_.push_back(url); };
        updater->controller()->hasFocus = [this] { return focus_; };
        failures_ = std::make_unique<QSignalSpy>(updater->controller(), &UpdateController::checkFailed);
        shown_ = std::make_unique<QSignalSpy>(updater->controller(), &UpdateController::updateShown);
        return updater;
    }

    void publish(const QByteArray& archive, const QString& signature,
                 const QString& page = QStringLiteral("https://example.com/releases/1.2")) {
        server_.redirects.clear();
        server_.files[QStringLiteral("/k-1.2.tar.gz")] = archive;
        server_.files[QStringLiteral("/appcast.xml")] =
            feed(item("90", "0.9", server_.url("/old.tar.gz"), "c2ln") +
                 item("120", "1.2", server_.url("/k-1.2.tar.gz"), signature, page));
    }

    // Runs a check to its end; false when it never ended.
    bool waitForCheck(Updater& updater) {
        return QTest::qWaitFor([&] { return updater.canCheckForUpdates(); }, 10000);
    }

    std::string failure() const {
        return failures_->isEmpty() ? std::string() : failures_->last().at(0).toString().toStdString();
    }

    test::SigningKey key_;
    FeedServer server_;
    bool focus_ = false;
    std::vector<QUrl> opened_;
    std::unique_ptr<QSignalSpy> failures_, shown_;
};

TEST_F(UpdaterTest, WithoutSettingsTheControllerNeverStarts) {
    Updater updater(UpdaterConfiguration{});
    EXPECT_FALSE(updater.isConfigured());
    ASSERT_NE(updater.controller(), nullptr);
    EXPECT_FALSE(updater.controller()->isStarted());
    EXPECT_FALSE(updater.canCheckForUpdates());
    updater.controller()->checkForUpdates();
    EXPECT_FALSE(updater.canCheckForUpdates());
}

TEST_F(UpdaterTest, AScheduledCheckLeavesAVerifiedUpdateToTheMenuUntilItIsInstalled) {
    const QByteArray archive(4096, 'k');
    publish(archive, key_.sign(archive));
    auto updater = makeUpdater(server_.url("/appcast.xml"));
    EXPECT_TRUE(updater->isConfigured());
    EXPECT_TRUE(updater->canCheckForUpdates());  // the controller's value, at once

    updater->controller()->checkForUpdatesInBackground();
    EXPECT_FALSE(updater->canCheckForUpdates());
    ASSERT_TRUE(waitForCheck(*updater));
    EXPECT_EQ(failure(), "");
    EXPECT_EQ(updater->availableUpdate(), QStringLiteral("1.2"));
    EXPECT_EQ(shown_->count(), 0);
    // The menu's "Update to Keldwick 1.2…" shows the update found, without looking again.
    updater->controller()->checkForUpdates();
    EXPECT_EQ(shown_->count(), 1);
    EXPECT_TRUE(updater->canCheckForUpdates());

    updater->controller()->installUpdate();
    EXPECT_EQ(opened_, std::vector<QUrl>{QUrl("https://example.com/releases/1.2")});
    EXPECT_EQ(updater->availableUpdate(), std::nullopt);
    EXPECT_FALSE(updater->controller()->foundUpdate().has_value());
}

TEST_F(UpdaterTest, WhereItCanReplaceItselfAnUpdateIsInstalledOnRequestOrAsSoonAsFound) {
    const QByteArray archive = test::updateArchive("120");
    publish(archive, key_.sign(archive));
    {
        // Elsewhere the switch can't be turned on.
        auto updater = makeUpdater(server_.url("/appcast.xml"));
        updater->controller()->setAutomaticallyDownloadsUpdates(true);
        EXPECT_FALSE(updater->canInstallItself());
        EXPECT_FALSE(updater->controller()->automaticallyDownloadsUpdates());
    }
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic ? "as soon as found" : "on request");
        test::TempDir dir;
        const std::string prefix = test::makePrefix(dir, "100");
        auto updater = makeUpdater(server_.url("/appcast.xml"), {prefix, "100", ""});
        EXPECT_TRUE(updater->canInstallItself());
        QSignalSpy installed(updater->controller(), &UpdateController::updateInstalled);
        if (automatic) {
            updater->controller()->setAutomaticallyDownloadsUpdates(true);
            updater->controller()->checkForUpdatesInBackground();
        } else {
            updater->controller()->checkForUpdates();
            ASSERT_TRUE(QTest::qWaitFor([&] { return shown_->count() == 1; }, 10000)) << failure();
            EXPECT_EQ(test::runVersion(prefix), "Keldwick 100\n");  // nothing before the user says so
            updater->controller()->installUpdate();
            EXPECT_FALSE(updater->canCheckForUpdates());  // not while files move
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return installed.count() == 1; }, 20000)) << failure();
        EXPECT_EQ(installed.at(0).at(1).toString().toStdString(), prefix + "/bin/keldwick");
        EXPECT_EQ(test::runVersion(prefix), "Keldwick 120\n");
        EXPECT_TRUE(opened_.empty());
        EXPECT_EQ(updater->availableUpdate(), std::nullopt);
        EXPECT_EQ(shown_->count(), automatic ? 0 : 1);
        EXPECT_TRUE(updater->canCheckForUpdates());

        // 1.2 is what runs after the relaunch: a later check in this run finds nothing.
        QSignalSpy upToDate(updater->controller(), &UpdateController::noUpdateFound);
        if (automatic) updater->controller()->checkForUpdatesInBackground();
        else updater->controller()->checkForUpdates();
        ASSERT_TRUE(waitForCheck(*updater));
        EXPECT_EQ(failure(), "");
        EXPECT_EQ(upToDate.count(), automatic ? 0 : 1);
        EXPECT_EQ(installed.count(), 1);
        EXPECT_EQ(updater->availableUpdate(), std::nullopt);
    }
}

TEST_F(UpdaterTest, TheSwitchesKeepTheUsersChoiceAcrossStarts) {
    test::TempDir dir;
    const std::string prefix = test::makePrefix(dir, "100");
    const std::string config = dir / "config/Keldwick";
    {
        const auto store = updaterStore(config);
        auto updater = makeUpdater(server_.url("/appcast.xml"), {prefix, "100", ""}, store.get());
        EXPECT_TRUE(updater->controller()->automaticallyChecksForUpdates());
        EXPECT_FALSE(updater->controller()->automaticallyDownloadsUpdates());
        updater->controller()->setAutomaticallyChecksForUpdates(false);
        updater->controller()->setAutomaticallyDownloadsUpdates(true);
    }
    struct stat file {};
    ASSERT_EQ(::stat((config + "/Keldwick.conf").c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);

    const auto store = updaterStore(config);
    auto updater = makeUpdater(server_.url("/appcast.xml"), {prefix, "100", ""}, store.get());
    EXPECT_FALSE(updater->controller()->automaticallyChecksForUpdates());
    EXPECT_TRUE(updater->controller()->automaticallyDownloadsUpdates());
}

// A FIFO (or a huge file) at Keldwick.conf would hang the toolkit's read for good, or take
// its memory: it is set aside unopened and the switches start from their defaults.
TEST_F(UpdaterTest, ASettingsFileThatIsNoFileIsSetAsideAndTheSwitchesStartAfresh) {
    for (const char* kind : {"fifo", "50 MB"}) {
        SCOPED_TRACE(kind);
        test::TempDir dir;
        const std::string prefix = test::makePrefix(dir, "100");
        const std::string config = dir / "config/Keldwick";
        test::makeDirs(config);
        const std::string path = config + "/Keldwick.conf";
        if (std::string(kind) == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            test::writeFile(path, "[General]\n");
            ASSERT_EQ(::truncate(path.c_str(), 50'000'000), 0);
        }
        const auto started = std::chrono::steady_clock::now();
        const auto store = updaterStore(config);
        ASSERT_TRUE(store);
        auto updater = makeUpdater(server_.url("/appcast.xml"), {prefix, "100", ""}, store.get());
        EXPECT_TRUE(updater->controller()->automaticallyChecksForUpdates());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        struct stat aside {};
        EXPECT_EQ(::lstat((path + ".corrupt").c_str(), &aside), 0);
        struct stat fresh {};
        ASSERT_EQ(::lstat(path.c_str(), &fresh), 0);
        EXPECT_TRUE(S_ISREG(fresh.st_mode));
        EXPECT_LT(fresh.st_size, 1000);
    }
}

TEST_F(UpdaterTest, AnInstallThatThrowsEndsInAFailureEvenWithoutAMessage) {
    const QByteArray archive("archive");
    publish(archive, key_.sign(archive));
    for (const std::string& message : {std::string("No space left on device"), std::string()}) {
        SCOPED_TRACE("message \"" + message + "\"");
        auto updater = makeUpdater(server_.url("/appcast.xml"));
        updater->controller()->setInstaller([message](const AppcastItem&, const QByteArray&) -> std::string {
            throw std::runtime_error(message);
        });
        QSignalSpy installed(updater->controller(), &UpdateController::updateInstalled);
        QSignalSpy failed(updater->controller(), &UpdateController::installFailed);
        updater->controller()->checkForUpdates();
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown_->count() > 0; }, 10000)) << failure();
        updater->controller()->installUpdate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, 10000));
        EXPECT_EQ(failed.at(0).at(0).toString().toStdString(), message);
        EXPECT_EQ(installed.count(), 0);
        EXPECT_TRUE(updater->canCheckForUpdates());
        shown_->clear();
    }
}

TEST_F(UpdaterTest, AnUpdateFoundWhileFocusedOrOnRequestIsShownNotLeftToTheMenu) {
    const QByteArray archive("archive");
    publish(archive, key_.sign(archive));
    auto updater = makeUpdater(server_.url("/appcast.xml"));
    for (bool userCheck : {false, true}) {
        focus_ = !userCheck;
        if (userCheck) {
            updater->controller()->checkForUpdates();
        } else {
            updater->controller()->checkForUpdatesInBackground();
        }
        ASSERT_TRUE(waitForCheck(*updater));
        EXPECT_EQ(updater->availableUpdate(), std::nullopt);
        EXPECT_TRUE(updater->controller()->foundUpdate().has_value());
        updater->controller()->dismissUpdate();
    }
    EXPECT_EQ(shown_->count(), 2);
    EXPECT_EQ(failure(), "");
    EXPECT_TRUE(opened_.empty());
}

TEST_F(UpdaterTest, AnUpToDateProgramIsToldSoOnRequest) {
    server_.files[QStringLiteral("/appcast.xml")] = feed(item("100", "1.0", server_.url("/same.tar.gz"), "c2ln"));
    auto updater = makeUpdater(server_.url("/appcast.xml"));
    QSignalSpy upToDate(updater->controller(), &UpdateController::noUpdateFound);
    updater->controller()->checkForUpdates();
    ASSERT_TRUE(waitForCheck(*updater));
    EXPECT_EQ(upToDate.count(), 1);
    EXPECT_EQ(failure(), "");
    EXPECT_EQ(updater->availableUpdate(), std::nullopt);
}

TEST_F(UpdaterTest, BadFeedsArchivesAndConnectionsEndInAMessageNeverAnUpdate) {
    const QByteArray archive("archive");
    struct Case {
        const char* name;
        std::function<QString()> prepare;  // gives the feed address
        const char* message;
    };
    const Case cases[] = {
        {"tampered archive",
         [&] {
             publish("archivE", key_.sign(archive));
             return server_.url("/appcast.xml");
         },
         "doesn't match its signature"},
        {"signed by another key",
         [&] {
             test::SigningKey other;
             publish(archive, other.sign(archive));
             return server_.url("/appcast.xml");
         },
         "doesn't match its signature"},
        {"unsigned",
         [&] {
             publish(archive, QString());
             return server_.url("/appcast.xml");
         },
         "isn't signed"},
        {"malformed feed",
         [&] {
             server_.files[QStringLiteral("/appcast.xml")] = "<rss><channel><item><title>1.2</item>";
             return server_.url("/appcast.xml");
         },
         "The update feed can't be read: "},
        {"missing archive",
         [&] {
             publish(archive, key_.sign(archive));
             server_.files.erase(QStringLiteral("/k-1.2.tar.gz"));
             return server_.url("/appcast.xml");
         },
         "The update couldn't be downloaded: "},
        // A replayed feed may carry a genuinely signed archive under a new version: what
        // it names is fetched and opened only over https.
        {"page on this computer",
         [&] {
             publish(archive, key_.sign(archive), "file:///home/ann/Downloads/evil.desktop");
             return server_.url("/appcast.xml");
         },
         "won't be offered: its page file:///home/ann/Downloads/evil.desktop isn't an https address"},
        {"page over http",
         [&] {
             publish(archive, key_.sign(archive), "http://example.com/releases/1.2");
             return server_.url("/appcast.xml");
         },
         "its page http://example.com/releases/1.2 isn't an https address"},
        {"page on a share",
         [&] {
             publish(archive, key_.sign(archive), "smb://server/share/keldwick");
             return server_.url("/appcast.xml");
         },
         "its page smb://server/share/keldwick isn't an https address"},
        {"archive over http",
         [&] {
             server_.files[QStringLiteral("/appcast.xml")] =
                 feed(item("120", "1.2", "http://127.0.0.1:9/k-1.2.tar.gz", key_.sign(archive)));
             return server_.url("/appcast.xml");
         },
         "Keldwick 1.2 won't be downloaded: http://127.0.0.1:9/k-1.2.tar.gz isn't an https address"},
        {"archive sent on to http",
         [&] {
             publish(archive, key_.sign(archive));
             server_.redirects[QStringLiteral("/k-1.2.tar.gz")] = QStringLiteral("http://127.0.0.1:9/k-1.2.tar.gz");
             return server_.url("/appcast.xml");
         },
         "The update couldn't be downloaded: it was sent on to http://127.0.0.1:9/k-1.2.tar.gz, which isn't an "
         "https address"},
        {"refused connection",
         [] {
             QTcpServer closed;
             closed.listen(QHostAddress::LocalHost);
             quint16 port = closed.serverPort();
             closed.close();
             return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(port);
         },
         "Keldwick couldn't check for updates: "},
    };
    for (const Case& c : cases) {
        auto updater = makeUpdater(c.prepare());
        updater->controller()->checkForUpdatesInBackground();
        ASSERT_TRUE(waitForCheck(*updater)) << c.name;
        EXPECT_NE(failure().find(c.message), std::string::npos) << c.name << ": " << failure();
        EXPECT_EQ(updater->availableUpdate(), std::nullopt) << c.name;
        EXPECT_FALSE(updater->controller()->foundUpdate().has_value()) << c.name;
        updater->controller()->installUpdate();
        EXPECT_TRUE(opened_.empty()) << c.name;
    }
}

}  // namespace
}  // namespace keldwick
