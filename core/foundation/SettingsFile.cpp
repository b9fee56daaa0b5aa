#include "foundation/SettingsFile.h"

#include <cerrno>

#include "foundation/AtomicFile.h"
#include "foundation/Log.h"
#include "platform/FileIO.h"
#include "platform/FileStatus.h"
#include "platform/POSIXFailure.h"

namespace keldwick::SettingsFile {

State judge(const std::string& path, size_t maxBytes) {
    struct stat entry {};
    if (platform::statusNoFollow(path, entry) != 0) return errno == ENOENT || errno == ENOTDIR ? State::missing : State::unusable;
    // stat never opens what it looks at: a FIFO or a device at the end of a link is safe to ask.
    struct stat target {};
    if (platform::statusFollowing(path, target) != 0 || !S_ISREG(target.st_mode)) return State::unusable;
    if (static_cast<uint64_t>(target.st_size) > maxBytes) return State::unusable;
    return State::usable;
}

std::string read(const std::string& path, size_t maxBytes) {
    struct stat target {};
    if (platform::statusFollowing(path, target) != 0) {
        const int code = errno;
        // A link to nothing is something at the place, and not a settings file.
        struct stat entry {};
        if (platform::statusNoFollow(path, entry) == 0) throw POSIXFailure("open", path, EINVAL);
        throw POSIXFailure("open", path, code);
    }
    if (!S_ISREG(target.st_mode)) throw POSIXFailure("open", path, EINVAL);
    // Non-blocking, in case it became a FIFO since: the open checks again what it got.
    platform::Fd file = platform::openRead(path, O_NONBLOCK);
    if (!file) throw POSIXFailure("open", path, errno);
    return AtomicFile::readOpen(file, path, maxBytes);
}

Aside setAside(const std::string& path) {
    const std::string aside = path + ".corrupt";
    platform::FileSystemCalls& calls = platform::calls();
    calls.unlinkAt(AT_FDCWD, aside.c_str(), 0);
    if (calls.renameAt(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), 0) != 0) {
        const int code = errno;
        if (code == ENOENT) return Aside::missing;
        Log::error("settings", POSIXFailure("rename", path + " \u2192 " + aside, code).what());
        return Aside::stuck;
    }
    Log::notice("settings", "moved the damaged settings file aside to " + aside);
    return Aside::moved;
}

Prepared prepare(const std::string& path, size_t maxBytes) {
    if (judge(path, maxBytes) != State::unusable) return {};
    Log::error("settings", path + " is not a settings file that can be read (not a regular file, or too large)");
    switch (setAside(path)) {
        case Aside::moved: return {true, true};
        case Aside::missing: return {};
        case Aside::stuck: break;
    }
    return {false, false};
}

}  // namespace keldwick::SettingsFile
