#pragma once
// What a moved item was beyond its content, as the journal records it at the move: the
// modes and owner a restore puts back, and a digest of what else its drive copy carried
// (entry types, link targets, ACLs and user attributes), which decides whether anything
// but the content may be taken from the drive when it comes home.

#include <cstdint>
#include <map>
#include <string>

namespace keldwick {

struct RecordedMetadata {
    uint32_t mode = 0;   // permission bits, with set-ID and sticky bits only where they were
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::string digest;  // MetadataDigest of the drive copy as verified
    // A folder's entries by relative path; links have no mode of their own.
    std::map<std::string, uint32_t> entryModes;
    // A folder's files that were names of one file (hard links), by relative path: their
    // group's number. Only groups of two names or more.
    std::map<std::string, int64_t> linkGroups;
    // The files that had holes, by relative path ("" for a single file), with the bytes
    // they took: they come home with their holes, and room is counted by those bytes.
    std::map<std::string, int64_t> sparseEntries;
    // The same digest over kinds, link targets and POSIX ACLs only, so that ACLs that did
    // not change come home although a tag did; empty in records made before it was kept.
    std::string aclDigest;

    bool operator==(const RecordedMetadata&) const = default;
};

}  // namespace keldwick
