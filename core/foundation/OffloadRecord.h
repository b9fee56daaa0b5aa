#pragma once
// One moved item as the journal keeps it, and the form in which a new one is inserted.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "foundation/Date.h"
#include "foundation/Phase.h"

namespace keldwick {

struct OffloadRecord {
    int64_t id = 0;                 // assigned by the journal; the item's identity from then on
    std::string originalPath;       // where the link stands after the move
    std::string driveID;            // the drive holding the copy
    std::string driveRelativePath;  // the copy's path below the drive's root
    bool isDirectory = false;
    int64_t size = 0;                        // as recorded at insert
    std::optional<std::string> checksum;     // stored when the copy is verified
    Phase phase = Phase::offloadCopying;
    std::optional<Date> lastUsed;
    Date createdAt;
    Date updatedAt;                          // last change of phase or checksum
    std::optional<std::string> error;        // message of the latest phase change
    std::optional<std::string> restoreChecksum;  // of the copy brought back, set before the restore swap
    // The moved item's device, inode and birth as verified, before the swap: what tells
    // the item itself from another put at its place later. Absent in older journals.
    std::optional<std::string> originalIdentity;

    // All fourteen fields, dates exactly.
    bool operator==(const OffloadRecord&) const = default;

    // The last component of originalPath, a trailing "/" ignored.
    std::string name() const;
    // The copy's absolute path on a drive mounted at `root`: root itself when the relative
    // path is empty, else root and the relative path joined by exactly the one "/" that
    // root may already end with.
    std::string drivePath(const std::string& root) const;
};

struct NewRecord {
    std::string originalPath;
    std::string driveID;
    std::string driveRelativePath;
    bool isDirectory = false;
    int64_t size = 0;
    std::optional<Date> lastUsed;
    Phase phase = Phase::offloadCopying;
    std::optional<std::string> checksum;
    std::optional<Date> createdAt;  // absent: the insert stamps the current time
};

}  // namespace keldwick

template <>
struct std::hash<keldwick::OffloadRecord> {
    size_t operator()(const keldwick::OffloadRecord& record) const noexcept;
};
