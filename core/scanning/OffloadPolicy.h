#pragma once
// The thresholds a scan applies, and its file-type filter.

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <string>
#include <vector>

#include "foundation/ContentType.h"

namespace keldwick {

// Lets recently used files of the light types qualify when they are large enough.
struct RecentLightFiles {
    double minimumAge = 604'800;          // seconds (7 days)
    int64_t minimumSize = 100'000'000;    // bytes

    bool operator==(const RecentLightFiles&) const = default;
};

struct OffloadPolicy {
    double minimumAge = 2'592'000;             // seconds since last use (30 days)
    int64_t minimumItemSize = 10'485'760;      // bytes (10 MiB)
    bool allowFolders = true;
    double folderInactivity = 7'776'000;       // seconds a folder must go unused (90 days)
    int64_t maxFolderFileCount = 20'000;
    // Nothing: every type passes the allow test. Otherwise only types conforming to
    // one of these, or whose extension is in allowedExtensions.
    std::optional<std::vector<ContentType>> allowedTypes;
    std::unordered_set<std::string> allowedExtensions;  // lower case, without the dot
    std::vector<ContentType> deniedTypes;                    // checked before anything is allowed
    std::optional<RecentLightFiles> recentLightFiles;
    bool moveProjects = true;
    int64_t minimumEmulatorSize = 100'000'000;
    bool driveIsNativeFormat = true;

    bool operator==(const OffloadPolicy&) const = default;

    // Document and media types read from start to end (12, in order).
    static const std::vector<ContentType>& sequentialTypes();
    // Extensions of sequentially read files whose types aren't always declared as such.
    static const std::unordered_set<std::string>& sequentialExtensions();
    // Types opened for random access or executed (6, in order).
    static const std::vector<ContentType>& randomAccessTypes();
    // The defaults with the sequential types and extensions allowed and the
    // random-access types denied.
    static const OffloadPolicy& light();

    // The type filter. Only the extension of `fileName` (a name or a path) is used,
    // lower-cased; a package's extension resolves among package types, a file's among
    // data types. The denied types win over the extension allow list.
    bool allowsType(std::string_view fileName, bool isPackage) const;
};

struct DriveProfile;

// `base` narrowed by the drive's tier: maxFolderFileCount, allowedTypes,
// allowedExtensions and deniedTypes set by the tier; every other field unchanged. It
// lives with the policy so that the drive code needn't know the scan's policy.
OffloadPolicy policyForDrive(const DriveProfile& profile, OffloadPolicy base);

}  // namespace keldwick
