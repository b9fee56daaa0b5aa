#include "drives/DriveProblem.h"

#include <algorithm>

#include "drives/DriveEligibility.h"
#include "drives/FileSystemFormats.h"
#include "foundation/Formatting.h"

namespace keldwick {

std::string DriveProblem::explanation() const {
    switch (kind) {
        case Kind::unsupportedFormat:
            switch (FileSystemFormats::refusalAdvice(format)) {
                case platform::RefusalAdvice::windows:
                    return "This drive is formatted for Windows, so your computer can't save files to it. Use a "
                           "different drive, or erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes "
                           "everything on it.";
                case platform::RefusalAdvice::hfsPlus:
                    return "This drive is formatted as Mac OS Extended (HFS+), which Linux writes only with its "
                           "journal turned off. Use a different drive, or erase it as ext4 or exFAT in the Disks "
                           "utility \u2014 erasing deletes everything on it.";
                case platform::RefusalAdvice::apfs:
                    return "This drive is formatted as APFS, so your computer can't save files to it. Use a different "
                           "drive, or erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes everything "
                           "on it.";
                case platform::RefusalAdvice::format:
                case platform::RefusalAdvice::fat32:
                    break;
            }
            return "Keldwick can't use this drive's format (" + format + "). Use a drive formatted as " +
                   FileSystemFormats::suggestedFormats() + ".";
        case Kind::startupDisk: return "This is your computer's own disk.";
        case Kind::internalDisk: return "This disk is inside your computer. Keldwick needs an external drive.";
        case Kind::networkVolume: return "Network drives can disappear without warning, so Keldwick doesn't use them.";
        case Kind::readOnly: return "Your computer can't save files to this drive (it's read-only).";
        case Kind::diskImage: return "This is a disk image, not a drive.";
        case Kind::backups:
            return "This drive holds your Timeshift backups. Use a different drive for Keldwick.";
        case Kind::fat32:
            return "This drive can't hold files bigger than 4 GB (it's formatted as FAT32). Use a different drive, "
                   "or erase it as ext4 or exFAT in the Disks utility \u2014 erasing deletes everything on it.";
        case Kind::untrusted: return reason;
        case Kind::tooSmall:
            return "This drive is too small: Keldwick keeps " + byteCountText(DriveEligibility::kReserveBytes) +
                   " free on it, so nothing would fit. Use a drive of at least " +
                   byteCountText(DriveEligibility::kSmallestUsableBytes) + ".";
    }
    return {};
}

std::optional<DriveProblem> DriveProblem::mostHelpful(const std::vector<DriveProblem>& problems) {
    auto erasingHelps = [](const DriveProblem& problem) {
        return problem.kind == Kind::fat32 || problem.kind == Kind::unsupportedFormat;
    };
    const bool small = std::any_of(problems.begin(), problems.end(),
                                   [](const DriveProblem& problem) { return problem.kind == Kind::tooSmall; });
    for (const auto& problem : problems) {
        if (erasingHelps(problem) != small) return problem;
    }
    if (problems.empty()) return std::nullopt;
    return problems.front();
}

}  // namespace keldwick
