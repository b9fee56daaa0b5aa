#pragma once
// Installing an update into the prefix the program runs from, where that prefix is the
// user's own and has the versioned layout `make install` writes:
//
//   <prefix>/lib/keldwick/<version>/keldwick               the program
//   <prefix>/lib/keldwick/<version>/libKeldwickCore.so.0   its library (found through $ORIGIN)
//   <prefix>/bin/keldwick -> ../lib/keldwick/<version>/keldwick
//
// An update archive (`make dist`) is a gzip-compressed tar holding one folder,
// "keldwick-<version>/", with exactly those two regular files. It is verified against
// its Ed25519 signature, unpacked beside the running version, flushed to the disk, and
// switched to by one rename of the link over bin/keldwick: program and library change
// together, and a kill or a power cut at any step leaves the old version or the new one
// runnable, never half of each. The previous version stays until the new one has
// started once (settle()).

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Types.h"

namespace keldwick::SelfInstall {

inline constexpr const char* versionsFolder = "lib/keldwick";
inline constexpr const char* programLink = "bin/keldwick";
inline constexpr const char* programName = "keldwick";
inline constexpr const char* libraryName = "libKeldwickCore.so.0";

// Where the running program is installed, and whether it can replace itself there.
struct Installation {
    std::optional<std::string> prefix;  // set only when it can
    std::string version;                // the running version's folder name, when known
    std::string whyNot;                 // one line for the user when it can't
    bool operator==(const Installation&) const = default;
};

// `executable` is the running program's real path (/proc/self/exe); `uid` the user. The
// program can replace itself when it runs as <prefix>/lib/keldwick/<version>/keldwick,
// <prefix>/bin/keldwick is a link to it, and both folders that change belong to `uid`
// and can be written.
Installation locate(const std::string& executable, uid_t uid);

// The installation of the running program.
Installation current();

// A version is a folder name: letters, digits, ".", "_", "+" and "-", starting with a
// letter or digit, at most 64 bytes.
bool isVersionName(const std::string& version);

// Why an update wasn't installed; what() is a sentence for the user. The prefix is as
// it was (leftovers of the attempt, if any, are hidden working names that settle()
// removes).
class InstallError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The steps of an install, in order, reported to `reached` before each (for tests that
// stop the install there).
enum class Step { unpack, flush, place, link, switchLink };

// Verifies `archive` against `signatureBase64` and `publicKeyBase64`, and installs it as
// `version` into `prefix`, whose folders must belong to `uid`. Returns the new program's
// path through the link. Throws InstallError, leaving the running version in place.
// Blocks (runs tar and flushes): call it off the main thread.
std::string install(const std::string& prefix, const QByteArray& archive, const QString& signatureBase64,
                    const QString& publicKeyBase64, const std::string& version, uid_t uid,
                    const std::function<void(Step)>& reached = {});

// After a start: removes what interrupted installs left (hidden working names) and,
// once the link points at `runningVersion`, every other version. Best effort: what
// can't be removed stays for the next start.
void settle(const std::string& prefix, const std::string& runningVersion);

}  // namespace keldwick::SelfInstall
