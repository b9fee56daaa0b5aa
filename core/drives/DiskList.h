#pragma once
// What the disk watcher last reported about each disk, so the model can tell whether the
// chosen drive is attached but still mounting, and which volume UUID belongs to a mount
// path, without asking the system again. No handles, no I/O.

#include <map>
#include <optional>
#include <string>

namespace keldwick {

struct DiskVolume {
    std::optional<std::string> uuid;
    std::optional<std::string> name;
    std::optional<std::string> mountPath;  // absent while not (yet) mounted

    bool operator==(const DiskVolume&) const = default;
};

struct DiskList {
    // Keyed by the disk's kernel block name ("sdb1"). Ordered, so that "the first match"
    // is the same on every call.
    std::map<std::string, DiskVolume> volumes;

    // Stores the volume under the name, or removes the entry when there is no volume.
    void update(const std::string& kernelName, const std::optional<DiskVolume>& volume);

    // With a uuid, the first volume with exactly that uuid (the name is not consulted);
    // otherwise, with a name, the first volume with exactly that name; otherwise nothing.
    std::optional<DiskVolume> volume(const std::optional<std::string>& uuid,
                                     const std::optional<std::string>& name) const;

    // The chosen drive is known but has no mount path yet.
    bool isMounting(const std::optional<std::string>& uuid, const std::optional<std::string>& name) const;

    // The uuid of the first volume mounted exactly at `path`; nothing when none is, or it has no uuid.
    std::optional<std::string> uuid(const std::string& mountedAt) const;

    bool operator==(const DiskList&) const = default;
};

}  // namespace keldwick
