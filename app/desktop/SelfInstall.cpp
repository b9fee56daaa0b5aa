#include "desktop/SelfInstall.h"

#include <cctype>
#include <cerrno>
#include <set>
#include <vector>

#include "desktop/EdSignature.h"
#include "foundation/FileOps.h"
#include "foundation/PathUtil.h"
#include "foundation/UUID.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"
#include "platform/Processes.h"
#include "platform/Rename.h"
#include "platform/Users.h"

namespace keldwick::SelfInstall {

namespace {

// Working names, hidden and recognisable, so that settle() can take away what a kill left.
constexpr const char* partialPrefix = ".keldwick-partial-";
constexpr const char* linkPrefix = ".keldwick-link-";

std::optional<struct stat> lstatOf(const std::string& path) {
    struct stat st {};
    if (platform::statusNoFollow(path, st) != 0) return std::nullopt;
    return st;
}

std::string cantReplace(const std::string& reason) { return "Keldwick can't replace itself here: " + reason + "."; }

// A folder that changes in an install: the user's own, a real folder, writable.
std::optional<std::string> folderProblem(const std::string& folder, uid_t uid) {
    const auto st = lstatOf(folder);
    if (!st || !S_ISDIR(st->st_mode)) return folder + " isn't a folder";
    if (st->st_uid != uid) return folder + " belongs to another user";
    if (!platform::mayAccess(folder, platform::kMayWrite | platform::kMayRun)) return folder + " can't be written";
    return std::nullopt;
}

bool insideBuildTree(const std::string& executable) {
    std::string folder = PathUtil::parent(executable);
    for (int depth = 0; depth < 4 && folder != "/"; ++depth, folder = PathUtil::parent(folder)) {
        if (lstatOf(folder + "/CMakeCache.txt")) return true;
    }
    return false;
}

// Runs tar to unpack `archive` into `folder`, with nothing of the archive's owners or
// modes beyond the permission bits, and nothing of this process's environment.
bool untar(const std::string& archive, const std::string& folder) {
    std::vector<std::string> arguments = {"tar",  "--extract",          "--gzip",        "--no-same-owner",
                                          "--no-same-permissions",       "--no-overwrite-dir",
                                          "--file", archive,             "--directory",  folder};
    const char* tar = platform::mayAccess("/usr/bin/tar", platform::kMayRun) ? "/usr/bin/tar" : "/bin/tar";
    return platform::runQuietly(tar, std::move(arguments), {"PATH=/usr/bin:/bin"});
}

void writeWhole(const std::string& path, const QByteArray& bytes) {
    platform::FileSystemCalls& calls = platform::calls();
    platform::Fd file(calls.openAt(AT_FDCWD, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) throw POSIXFailure("create", path, errno);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = calls.write(file.get(), bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw POSIXFailure("write", path, errno);
        }
        written += n;
    }
    if (platform::closeReporting(file) != 0) throw POSIXFailure("close", path, errno);
}

// The unpacked folder must hold the program and its library as plain files, and nothing
// else: a link or another file could reach outside the version's folder.
void checkUnpacked(const std::string& staging, const std::string& top) {
    const std::string refused = "The update's archive isn't laid out as a Keldwick update, so it wasn't installed.";
    const std::vector<std::string> names = listDirectory(staging);
    if (names != std::vector<std::string>{top}) throw InstallError(refused);
    const std::string folder = staging + "/" + top;
    const auto st = lstatOf(folder);
    if (!st || !S_ISDIR(st->st_mode)) throw InstallError(refused);
    const std::set<std::string> expected = {programName, libraryName};
    const std::vector<std::string> inside = listDirectory(folder);
    if (std::set<std::string>(inside.begin(), inside.end()) != expected || inside.size() != expected.size()) {
        throw InstallError(refused);
    }
    for (const std::string& name : inside) {
        const auto file = lstatOf(folder + "/" + name);
        if (!file || !S_ISREG(file->st_mode)) throw InstallError(refused);
    }
    if (platform::calls().fchmodAt(AT_FDCWD, (folder + "/" + programName).c_str(), 0755, 0) != 0)
        throw POSIXFailure("chmod", folder, errno);
}

void flushUnpacked(const std::string& folder) {
    for (const std::string& name : listDirectory(folder)) {
        const std::string path = folder + "/" + name;
        platform::Fd file = platform::openRead(path, O_NOFOLLOW);
        if (!file) throw POSIXFailure("open", path, errno);
        platform::flushFile(file.get(), path);
    }
    platform::flushFolder(folder);
}

// The version the link points at, by its target's folder name.
std::optional<std::string> linkedVersion(const std::string& prefix) {
    const auto target = readLink(prefix + "/" + programLink);
    if (!target) return std::nullopt;
    const std::string folder = PathUtil::parent(*target);
    if (PathUtil::parent(folder) != "../lib/keldwick" || PathUtil::name(*target) != programName) return std::nullopt;
    return PathUtil::name(folder);
}

}  // namespace

bool isVersionName(const std::string& version) {
    if (version.empty() || version.size() > 64) return false;
    if (!std::isalnum(static_cast<unsigned char>(version.front()))) return false;
    for (char c : version) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '+' || c == '-')) return false;
    }
    return true;
}

Installation locate(const std::string& executable, uid_t uid) {
    Installation where;
    const std::string versionFolder = PathUtil::parent(executable);
    const std::string versions = PathUtil::parent(versionFolder);
    const bool versioned = PathUtil::name(executable) == programName && PathUtil::name(versions) == "keldwick" &&
                           PathUtil::name(PathUtil::parent(versions)) == "lib" && isVersionName(PathUtil::name(versionFolder));
    const std::string prefix = versioned ? PathUtil::parent(PathUtil::parent(versions)) : std::string();
    const std::optional<std::string> linked =
        versioned ? PathUtil::canonical(prefix + "/" + programLink) : std::optional<std::string>();
    if (!versioned || linked != executable) {
        if (insideBuildTree(executable)) {
            where.whyNot = cantReplace("it runs from its build folder");
        } else if (executable.rfind("/usr/", 0) == 0 && executable.rfind("/usr/local/", 0) != 0) {
            where.whyNot = cantReplace("it came with this computer's packages, whose updates replace it");
        } else {
            where.whyNot = cantReplace("it wasn't installed with make install");
        }
        return where;
    }
    where.version = PathUtil::name(versionFolder);
    if (prefix == "/usr") {
        where.whyNot = cantReplace("it came with this computer's packages, whose updates replace it");
        return where;
    }
    for (const std::string& folder : {versions, PathUtil::parent(prefix + "/" + programLink)}) {
        if (auto problem = folderProblem(folder, uid)) {
            where.whyNot = cantReplace(*problem);
            return where;
        }
    }
    where.prefix = prefix;
    return where;
}

Installation current() {
    const auto executable = PathUtil::canonical("/proc/self/exe");
    if (!executable) return Installation{std::nullopt, {}, cantReplace("its own program file can't be found")};
    return locate(*executable, platform::effectiveUserID());
}

std::string install(const std::string& prefix, const QByteArray& archive, const QString& signatureBase64,
                    const QString& publicKeyBase64, const std::string& version, uid_t uid,
                    const std::function<void(Step)>& reached) {
    auto step = [&](Step s) {
        if (reached) reached(s);
    };
    if (!EdSignature::verify(archive, signatureBase64, publicKeyBase64)) {
        throw InstallError("The update doesn't match its signature, so it wasn't installed.");
    }
    if (!isVersionName(version)) throw InstallError("The update's version \"" + version + "\" can't name a folder.");
    const std::string versions = prefix + "/" + versionsFolder;
    const std::string bin = PathUtil::parent(prefix + "/" + programLink);
    for (const std::string& folder : {versions, bin}) {
        if (auto problem = folderProblem(folder, uid)) throw InstallError(cantReplace(*problem));
    }
    const std::optional<std::string> running = linkedVersion(prefix);
    if (!running) throw InstallError(cantReplace("it wasn't installed with make install"));
    if (*running == version) throw InstallError("Keldwick " + version + " is installed already.");

    const std::string staging = versions + "/" + partialPrefix + UUID::random();
    const std::string placed = versions + "/" + version;
    try {
        step(Step::unpack);
        if (platform::calls().mkdirAt(AT_FDCWD, staging.c_str(), 0700) != 0) throw POSIXFailure("mkdir", staging, errno);
        const std::string archivePath = staging + "/.archive";
        writeWhole(archivePath, archive);
        const bool unpacked = untar(archivePath, staging);
        removeFile(archivePath);
        if (!unpacked) throw InstallError("The update's archive can't be unpacked, so it wasn't installed.");
        const std::string top = "keldwick-" + version;
        checkUnpacked(staging, top);

        step(Step::flush);
        flushUnpacked(staging + "/" + top);
        platform::flushFolder(staging);

        step(Step::place);
        // A folder of this version that no link points at is left from an earlier attempt.
        if (lstatOf(placed)) PathUtil::removeTree(placed);
        if (int error = platform::renameNoReplace((staging + "/" + top).c_str(), placed.c_str()); error != 0) {
            throw POSIXFailure("rename", staging + "/" + top + " → " + placed, error);
        }
        platform::flushFolder(versions);
        PathUtil::removeTree(staging);

        step(Step::link);
        const std::string link = bin + "/" + linkPrefix + UUID::random();
        const std::string target = std::string("../") + versionsFolder + "/" + version + "/" + programName;
        if (platform::calls().symlinkAt(target.c_str(), AT_FDCWD, link.c_str()) != 0) {
            throw POSIXFailure("symlink", link, errno);
        }
        platform::flushFolder(bin);

        step(Step::switchLink);
        const std::string program = prefix + "/" + programLink;
        if (platform::calls().renameAt(AT_FDCWD, link.c_str(), AT_FDCWD, program.c_str(), 0) != 0) {
            const int error = errno;
            platform::calls().unlinkAt(AT_FDCWD, link.c_str(), 0);
            throw POSIXFailure("rename", link + " → " + program, error);
        }
        platform::flushFolder(bin);
        return program;
    } catch (const POSIXFailure& failure) {
        try {
            PathUtil::removeTree(staging);
        } catch (const std::exception&) {
            // settle() tries again at the next start.
        }
        throw InstallError("The update couldn't be installed: " + std::string(failure.what()));
    } catch (const InstallError&) {
        try {
            PathUtil::removeTree(staging);
        } catch (const std::exception&) {
        }
        throw;
    }
}

void settle(const std::string& prefix, const std::string& runningVersion) {
    const std::string versions = prefix + "/" + versionsFolder;
    const std::string bin = PathUtil::parent(prefix + "/" + programLink);
    auto removeQuietly = [](const std::string& path) {
        try {
            PathUtil::removeTree(path);
        } catch (const std::exception&) {
        }
    };
    try {
        for (const std::string& name : listDirectory(bin)) {
            if (name.rfind(linkPrefix, 0) == 0) removeFile(bin + "/" + name);
        }
    } catch (const std::exception&) {
    }
    const bool linkedToRunning = linkedVersion(prefix) == runningVersion;
    try {
        for (const std::string& name : listDirectory(versions)) {
            if (name.rfind(partialPrefix, 0) == 0) {
                removeQuietly(versions + "/" + name);
            } else if (linkedToRunning && name != runningVersion && isVersionName(name) &&
                       lstatOf(versions + "/" + name + "/" + programName)) {
                removeQuietly(versions + "/" + name);
            }
        }
    } catch (const std::exception&) {
    }
}

}  // namespace keldwick::SelfInstall
