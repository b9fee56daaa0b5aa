#pragma once
// What a udisks2 job is about to unmount. udisks announces each unmount, eject and power-off
// as a job object naming block devices (an unmount) or drives (an eject or power-off); the
// mount points come from the block devices it manages.

#include <string>
#include <vector>

namespace keldwick {

struct UdisksBlock {
    std::string objectPath;                // /org/freedesktop/UDisks2/block_devices/sdb1
    std::string drive;                     // /org/freedesktop/UDisks2/drives/..., "/" for none
    std::vector<std::string> mountPoints;  // where its file system is mounted

    bool operator==(const UdisksBlock&) const = default;
};

namespace UdisksJob {

// Jobs that take volumes away: "filesystem-unmount", "drive-eject", "drive-power-off".
bool takesVolumesAway(const std::string& operation);

// Every mount point that the job's objects would take away, in the order of the blocks,
// each once: a block named by the job, and every block of a drive named by the job.
std::vector<std::string> mountPoints(const std::vector<std::string>& jobObjects,
                                     const std::vector<UdisksBlock>& blocks);

}  // namespace UdisksJob

}  // namespace keldwick
