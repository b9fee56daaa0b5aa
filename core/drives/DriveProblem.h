#pragma once
// Why a volume can't serve as the drive, with the sentence shown to the user.

#include <optional>
#include <string>
#include <vector>

namespace keldwick {

struct DriveProblem {
    // In declaration order.
    enum class Kind {
        unsupportedFormat, startupDisk, internalDisk, networkVolume, readOnly, diskImage, backups, fat32,
        untrusted,  // the drive locator would refuse it (DriveRefusal)
        tooSmall,   // nothing would fit beside the space always kept free on it
    };

    Kind kind = Kind::startupDisk;
    std::string format;  // the file-system name, for unsupportedFormat only
    std::string reason;  // untrusted: the refusal's explanation

    static DriveProblem unsupportedFormat(std::string format) { return {Kind::unsupportedFormat, std::move(format), {}}; }
    static DriveProblem startupDisk() { return {Kind::startupDisk, {}, {}}; }
    static DriveProblem internalDisk() { return {Kind::internalDisk, {}, {}}; }
    static DriveProblem networkVolume() { return {Kind::networkVolume, {}, {}}; }
    static DriveProblem readOnly() { return {Kind::readOnly, {}, {}}; }
    static DriveProblem diskImage() { return {Kind::diskImage, {}, {}}; }
    static DriveProblem backups() { return {Kind::backups, {}, {}}; }
    static DriveProblem fat32() { return {Kind::fat32, {}, {}}; }
    static DriveProblem untrusted(std::string reason) { return {Kind::untrusted, {}, std::move(reason)}; }
    static DriveProblem tooSmall() { return {Kind::tooSmall, {}, {}}; }

    std::string explanation() const;

    // The problem to show: the first one the user can fix by erasing the drive (fat32 or
    // unsupportedFormat), else the first; nothing for an empty list. Erasing never makes a
    // drive that is too small usable: with tooSmall listed, the first other problem wins.
    static std::optional<DriveProblem> mostHelpful(const std::vector<DriveProblem>& problems);

    bool operator==(const DriveProblem&) const = default;
};

}  // namespace keldwick
