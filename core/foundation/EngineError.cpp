#include "foundation/EngineError.h"

#include "foundation/Formatting.h"
#include "foundation/ItemName.h"

namespace keldwick {

namespace {

// The name the user knows the item by, in typographic quotes.
std::string quotedItem(const std::string& path) { return quoted(ItemName::display(path)); }

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

}  // namespace

EngineError::EngineError(Payload p)
    : std::runtime_error(messageFor(p)),
      kind_(p.kind),
      path_(std::move(p.path)),
      otherPath_(std::move(p.otherPath)),
      text_(std::move(p.text)),
      processNames_(std::move(p.processNames)),
      needed_(p.needed),
      available_(p.available) {}

std::string EngineError::messageFor(const Payload& p) {
    switch (p.kind) {
        case Kind::notEnoughSpaceOnDrive:
            if (p.reserve > 0)
                return "There isn't enough room on your drive (needs " + byteCountText(p.needed) + ", has " +
                       byteCountText(p.available) + " free beyond the " + byteCountText(p.reserve) +
                       " Keldwick always leaves free on it).";
            return "There isn't enough room on your drive (needs " + byteCountText(p.needed) + ", has " +
                   byteCountText(p.available) + " free).";
        case Kind::notEnoughSpaceOnComputer:
            if (p.reserve > 0)
                return "There isn't enough room on your computer (needs " + byteCountText(p.needed) + ", has " +
                       byteCountText(p.available) + " free beyond the " + byteCountText(p.reserve) +
                       " Keldwick keeps free on it).";
            return "There isn't enough room on your computer (needs " + byteCountText(p.needed) + ", has " +
                   byteCountText(p.available) + " free).";
        case Kind::sourceMissing:
            return quotedItem(p.path) + " isn't there anymore.";
        case Kind::notEligible:
            return quotedItem(p.path) + " stays on your computer (" + p.text + ").";
        case Kind::sourceChanged:
            return quotedItem(p.path) + " changed while it was being copied, so it stayed on your computer.";
        case Kind::inUse:
            return quotedItem(p.path) + " is open in " + joined(p.processNames, ", ") + ". Close it and try again.";
        case Kind::checksumMismatch:
            return "The copy of " + quotedItem(p.path) + " didn't match the original, so nothing was changed.";
        case Kind::destinationExists:
            return "There's already something called " + quotedItem(p.path) + " where this would go.";
        case Kind::driveCopyMissing:
            return "The copy of " + quotedItem(p.path) + " on your drive is missing.";
        case Kind::driveCopyCorrupted:
            return "The copy of " + quotedItem(p.path) +
                   " on your drive seems damaged, so Keldwick left it where it is. You can still open it, or copy "
                   "it from the drive yourself.";
        case Kind::linkReplaced:
            return quotedItem(p.path) + " was replaced by a new file on your computer.";
        case Kind::alreadyManaged:
            return quotedItem(p.path) + " is already on your drive.";
        case Kind::invalidState:
            return p.text;
        case Kind::unsupportedItem:
            return quotedItem(p.path) + " contains something Keldwick can't copy safely (a shortcut or special file).";
        case Kind::olderCopyOnDrive:
            return "An older copy of " + quotedItem(p.otherPath) + " is still on your drive, so " + quotedItem(p.path) +
                   " stays on your computer for now. You can delete the old copy in Files on Your Drive.";
        case Kind::holdsOtherItems:
            return quotedItem(p.path) + " on your drive also holds other files you moved, so it can't be deleted.";
        case Kind::metadataNotCopied:
            return "The tags, comments or other details of " + quotedItem(p.path) +
                   " couldn't be copied, so it stayed where it was.";
        case Kind::driveUnavailable:
            return "Your drive isn't plugged in.";
        case Kind::driveUntrusted:
            return p.text;
    }
    return "";
}

EngineError EngineError::notEnoughSpaceOnDrive(int64_t needed, int64_t available, int64_t reserve) {
    return EngineError(
        {.kind = Kind::notEnoughSpaceOnDrive, .needed = needed, .available = available, .reserve = reserve});
}
EngineError EngineError::notEnoughSpaceOnComputer(int64_t needed, int64_t available, int64_t reserve) {
    return EngineError(
        {.kind = Kind::notEnoughSpaceOnComputer, .needed = needed, .available = available, .reserve = reserve});
}
EngineError EngineError::sourceMissing(std::string path) {
    return EngineError({.kind = Kind::sourceMissing, .path = std::move(path)});
}
EngineError EngineError::notEligible(std::string path, std::string reason) {
    return EngineError({.kind = Kind::notEligible, .path = std::move(path), .text = std::move(reason)});
}
EngineError EngineError::sourceChanged(std::string path) {
    return EngineError({.kind = Kind::sourceChanged, .path = std::move(path)});
}
EngineError EngineError::inUse(std::string path, std::vector<std::string> processNames) {
    return EngineError({.kind = Kind::inUse, .path = std::move(path), .processNames = std::move(processNames)});
}
EngineError EngineError::checksumMismatch(std::string path) {
    return EngineError({.kind = Kind::checksumMismatch, .path = std::move(path)});
}
EngineError EngineError::destinationExists(std::string path) {
    return EngineError({.kind = Kind::destinationExists, .path = std::move(path)});
}
EngineError EngineError::driveCopyMissing(std::string path) {
    return EngineError({.kind = Kind::driveCopyMissing, .path = std::move(path)});
}
EngineError EngineError::driveCopyCorrupted(std::string path) {
    return EngineError({.kind = Kind::driveCopyCorrupted, .path = std::move(path)});
}
EngineError EngineError::linkReplaced(std::string path) {
    return EngineError({.kind = Kind::linkReplaced, .path = std::move(path)});
}
EngineError EngineError::alreadyManaged(std::string path) {
    return EngineError({.kind = Kind::alreadyManaged, .path = std::move(path)});
}
EngineError EngineError::invalidState(std::string message) {
    return EngineError({.kind = Kind::invalidState, .text = std::move(message)});
}
EngineError EngineError::unsupportedItem(std::string path) {
    return EngineError({.kind = Kind::unsupportedItem, .path = std::move(path)});
}
EngineError EngineError::olderCopyOnDrive(std::string path, std::string of) {
    return EngineError({.kind = Kind::olderCopyOnDrive, .path = std::move(path), .otherPath = std::move(of)});
}
EngineError EngineError::holdsOtherItems(std::string path) {
    return EngineError({.kind = Kind::holdsOtherItems, .path = std::move(path)});
}
EngineError EngineError::metadataNotCopied(std::string path) {
    return EngineError({.kind = Kind::metadataNotCopied, .path = std::move(path)});
}
EngineError EngineError::driveUnavailable() { return EngineError({.kind = Kind::driveUnavailable}); }
EngineError EngineError::driveUntrusted(std::string why) {
    return EngineError({.kind = Kind::driveUntrusted, .text = std::move(why)});
}

bool operator==(const EngineError& a, const EngineError& b) {
    return a.kind_ == b.kind_ && a.path_ == b.path_ && a.otherPath_ == b.otherPath_ && a.text_ == b.text_ &&
           a.processNames_ == b.processNames_ && a.needed_ == b.needed_ && a.available_ == b.available_;
}

CancellationError::CancellationError() : std::runtime_error("The operation was stopped.") {}

}  // namespace keldwick
