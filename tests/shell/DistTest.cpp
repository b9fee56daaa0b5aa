// `make dist`'s archive of this build, signed with a key made for the test, installed
// over an older version in a prefix of its own: the link then starts this build.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "desktop/SelfInstall.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
        if (::pclose(pipe) != 0) text += "\n(failed)";
    }
    return text;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

TEST(DistTest, TheSignedArchiveInstallsOverAnOlderVersionAndStartsThroughTheLink) {
    test::TempDir dir;
    const std::string key = dir / "key.pem";
    ASSERT_EQ(output("openssl genpkey -algorithm ed25519 -out " + quoted(key)), "");
    const std::string said = output(quoted(std::string(KELDWICK_SOURCE_DIR) + "/scripts/dist") + " " +
                                    quoted(KELDWICK_BUILD_DIR) + " " + quoted(dir / "dist") + " " + quoted(key));
    const auto publicAt = said.find("public key: ");
    ASSERT_NE(publicAt, std::string::npos) << said;
    const std::string publicKey = said.substr(publicAt + 12, said.find(' ', publicAt + 12) - publicAt - 12);

    std::string archivePath;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "dist")) {
        if (entry.path().extension() == ".gz") archivePath = entry.path();
    }
    ASSERT_FALSE(archivePath.empty()) << said;
    const std::string name = std::filesystem::path(archivePath).filename();
    const std::string version = name.substr(9, name.size() - 9 - 7);  // keldwick-<version>.tar.gz
    const std::string archive = test::readFile(archivePath);
    const std::string signature = test::readFile(archivePath + ".sig");

    // An older version, as `make install` lays it out.
    const std::string prefix = dir / "prefix";
    test::writeFile(prefix + "/lib/keldwick/0.0.1/keldwick", "#!/bin/sh\necho 'Keldwick 0.0.1'\n");
    ::chmod((prefix + "/lib/keldwick/0.0.1/keldwick").c_str(), 0755);
    test::writeFile(prefix + "/lib/keldwick/0.0.1/libKeldwickCore.so.0", "");
    test::makeDirs(prefix + "/bin");
    std::filesystem::create_symlink("../lib/keldwick/0.0.1/keldwick", prefix + "/bin/keldwick");

    SelfInstall::install(prefix, QByteArray(archive.data(), static_cast<qsizetype>(archive.size())),
                         QString::fromStdString(signature), QString::fromStdString(publicKey), version, ::geteuid());
    // The program finds its own library beside it, not the build's.
    EXPECT_EQ(output("env -u LD_LIBRARY_PATH ASAN_OPTIONS=detect_leaks=0 " + quoted(prefix + "/bin/keldwick") +
                     " --version"),
              "Keldwick " + version + "\n");
    const std::string libraries = output("ldd " + quoted(prefix + "/lib/keldwick/" + version + "/keldwick"));
    EXPECT_NE(libraries.find("libKeldwickCore.so.0 => " + prefix + "/lib/keldwick/" + version + "/libKeldwickCore.so.0"),
              std::string::npos)
        << libraries;
}

}  // namespace
}  // namespace keldwick
