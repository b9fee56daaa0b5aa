#include "desktop/LoginItem.h"

#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace keldwick {
namespace {

TEST(LoginItemEntryTest, ExecNamesTheProgramAsOneArgument) {
    struct Case {
        std::string program;
        std::string exec;
    };
    const Case cases[] = {
        {"/usr/bin/keldwick", "Exec=/usr/bin/keldwick\n"},
        {"/opt/My App/keldwick", "Exec=\"/opt/My App/keldwick\"\n"},
        {"/opt/a\"b$c`d/k", "Exec=\"/opt/a\\\\\"b\\\\$c\\\\`d/k\"\n"},
        {"/opt/back\\slash/k", "Exec=\"/opt/back\\\\\\\\slash/k\"\n"},
        {"/opt/100%/k", "Exec=/opt/100%%/k\n"},
        {"/opt/new\nline/k", "Exec=\"/opt/new\\nline/k\"\n"},
    };
    for (const Case& c : cases) {
        std::string entry = loginItemEntry(c.program);
        EXPECT_NE(entry.find("\n" + c.exec), std::string::npos) << entry;
        EXPECT_EQ(entry.rfind("[Desktop Entry]\nType=Application\nName=Keldwick\n", 0), 0u) << entry;
    }
    EXPECT_THROW(loginItemEntry("/opt/\xff/k"), std::runtime_error);
}

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("XDG_CONFIG_HOME");
        hadValue_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir_ / "config"));
    }
    void TearDown() override {
        if (hadValue_) {
            qputenv("XDG_CONFIG_HOME", saved_);
        } else {
            qunsetenv("XDG_CONFIG_HOME");
        }
    }

    test::TempDir dir_;
    QByteArray saved_;
    bool hadValue_ = false;
};

TEST_F(LoginItemTest, OnWritesTheEntryAndOffRemovesIt) {
    const std::string path = dir_ / "config/autostart/keldwick.desktop";
    ASSERT_EQ(loginItemPath(), path);
    const std::string program = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    ASSERT_EQ(program.front(), '/');

    EXPECT_FALSE(loginItemIsOn());
    for (int round = 0; round < 2; ++round) {  // twice: each is idempotent
        setLoginItem(true);
        EXPECT_TRUE(loginItemIsOn());
        EXPECT_EQ(test::readFile(path), loginItemEntry(program));
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0644u);
    }
    for (int round = 0; round < 2; ++round) {
        setLoginItem(false);
        struct stat info {};
        EXPECT_NE(::stat(path.c_str(), &info), 0);
    }
}

TEST_F(LoginItemTest, AnEntryTheDesktopSwitchedOffIsOff) {
    const std::string path = dir_ / "config/autostart/keldwick.desktop";
    test::makeDirs(dir_ / "config/autostart");
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        test::writeFile(path, "[Desktop Entry]\nType=Application\n" + std::string(line) + "\nExec=/usr/bin/k\n");
        EXPECT_FALSE(loginItemIsOn()) << line;
    }
    test::writeFile(path, "[Desktop Entry]\nType=Application\nX-GNOME-Autostart-enabled=true\nExec=/usr/bin/k\n");
    EXPECT_TRUE(loginItemIsOn());
}

TEST_F(LoginItemTest, AnInstalledProgramStartsThroughItsLinkAndAnEntryNamingAnotherPathIsRenewed) {
    const std::string prefix = dir_ / "prefix";
    const std::string executable = test::writeFile(prefix + "/lib/keldwick/0.1.0/keldwick", "");
    EXPECT_EQ(loginItemProgram(executable), executable);  // no link: the program itself
    test::makeDirs(prefix + "/bin");
    ASSERT_EQ(::symlink("../lib/keldwick/0.1.0/keldwick", (prefix + "/bin/keldwick").c_str()), 0);
    EXPECT_EQ(loginItemProgram(executable), prefix + "/bin/keldwick");
    EXPECT_EQ(loginItemProgram(dir_ / "build/release/app/keldwick"), dir_ / "build/release/app/keldwick");

    // An entry naming the version's folder, which an update removes, names the link again.
    const std::string path = loginItemPath();
    test::makeDirs(dir_ / "config/autostart");
    test::writeFile(path, loginItemEntry(executable));
    renewLoginItem(executable);
    EXPECT_EQ(test::readFile(path), loginItemEntry(prefix + "/bin/keldwick"));
    // Switched off or missing, it stays as the user left it.
    const std::string off = loginItemEntry(executable) + "Hidden=true\n";
    test::writeFile(path, off);
    renewLoginItem(executable);
    EXPECT_EQ(test::readFile(path), off);
    ::unlink(path.c_str());
    renewLoginItem(executable);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));

    // Run from a build folder, the switch says where a login starts it, and an entry made
    // by the installed program stays.
    const std::string built = test::writeFile(dir_ / "build/release/app/keldwick", "");
    test::writeFile(path, loginItemEntry(prefix + "/bin/keldwick"));
    renewLoginItem(built);
    EXPECT_EQ(test::readFile(path), loginItemEntry(prefix + "/bin/keldwick"));
    EXPECT_EQ(loginItemNote(executable), std::nullopt);
    EXPECT_EQ(loginItemNote(built), std::nullopt);
    test::writeFile(dir_ / "build/release/CMakeCache.txt", "");
    EXPECT_EQ(loginItemNote(built), "Keldwick runs from its build folder, so logging in starts it from " +
                                        dir_ / "build/release" + ". Install it to start the installed program instead.");
}

TEST_F(LoginItemTest, FailuresCarryTheSystemsError) {
    // The configuration folder is a file: the autostart folder can't be made.
    test::writeFile(dir_ / "config", "not a folder");
    try {
        setLoginItem(true);
        ADD_FAILURE() << "no error";
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.code(), ENOTDIR) << failure.what();
        EXPECT_NE(std::string(failure.what()).find("Not a directory"), std::string::npos) << failure.what();
    }

    // A folder stands where the entry would be: it can't be removed as an entry.
    ::unlink((dir_ / "config").c_str());
    test::makeDirs(dir_ / "config/autostart/keldwick.desktop/inside");
    EXPECT_THROW(setLoginItem(false), POSIXFailure);
    EXPECT_THROW(setLoginItem(true), POSIXFailure);
}

}  // namespace
}  // namespace keldwick
