#pragma once
// Installations and update archives for the updater's tests: stand-in programs that
// answer --version, a prefix as `make install` lays it out, and archives made by the
// tar tool as `make dist` makes them.

#include <sys/stat.h>

#include <QByteArray>
#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "support/RealMounts.h"
#include "support/TempDir.h"

namespace keldwick::test {

// Stands in for a version of the program: it answers --version as the program does.
inline std::string fakeProgram(const std::string& version) {
    return "#!/bin/sh\necho \"Keldwick " + version + "\"\n";
}

// A prefix as `make install` lays it out, with a stand-in program of `version`.
inline std::string makePrefix(const TempDir& dir, const std::string& version) {
    const std::string prefix = dir / "prefix";
    const std::string folder = prefix + "/lib/keldwick/" + version;
    writeFile(folder + "/keldwick", fakeProgram(version));
    ::chmod((folder + "/keldwick").c_str(), 0755);
    writeFile(folder + "/libKeldwickCore.so.0", "library " + version);
    makeDirs(prefix + "/bin");
    std::filesystem::create_symlink("../lib/keldwick/" + version + "/keldwick", prefix + "/bin/keldwick");
    return prefix;
}

// A gzip-compressed tar of the tree `files` (relative path → contents; a value starting
// with "->" makes a link) made by the tar tool, as `make dist` makes archives.
inline QByteArray makeArchive(const std::map<std::string, std::string>& files) {
    TempDir dir;
    for (const auto& [path, contents] : files) {
        const std::string full = dir / ("tree/" + path);
        if (contents.rfind("->", 0) == 0) {
            makeDirs(std::filesystem::path(full).parent_path());
            std::filesystem::create_symlink(contents.substr(2), full);
        } else {
            writeFile(full, contents);
            ::chmod(full.c_str(), 0755);
        }
    }
    const std::string archive = dir / "archive.tar.gz";
    EXPECT_TRUE(run("tar --create --gzip --file '" + archive + "' --directory '" + dir / "tree" + "' ."));
    const std::string bytes = readFile(archive);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline QByteArray updateArchive(const std::string& version) {
    return makeArchive({{"keldwick-" + version + "/keldwick", fakeProgram(version)},
                        {"keldwick-" + version + "/libKeldwickCore.so.0", "library " + version}});
}

// What `bin/keldwick --version` prints, or the shell's complaint.
inline std::string runVersion(const std::string& prefix) {
    std::string output;
    if (FILE* pipe = ::popen(("'" + prefix + "/bin/keldwick' --version 2>&1").c_str(), "r")) {
        char buffer[256];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

}  // namespace keldwick::test
