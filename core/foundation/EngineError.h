#pragma once
// The engine's errors. Each case carries what its one user-facing sentence needs;
// what() is that sentence. Cancellation is a separate type so that no handler meant for
// engine errors swallows a user's Stop by accident.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace keldwick {

class EngineError : public std::runtime_error {
public:
    // In this order; the order is the case number.
    enum class Kind {
        notEnoughSpaceOnDrive,
        notEnoughSpaceOnComputer,
        sourceMissing,
        notEligible,
        sourceChanged,
        inUse,
        checksumMismatch,
        destinationExists,
        driveCopyMissing,
        driveCopyCorrupted,
        linkReplaced,
        alreadyManaged,
        invalidState,
        unsupportedItem,
        olderCopyOnDrive,
        holdsOtherItems,
        metadataNotCopied,
        driveUnavailable,
        driveUntrusted,
    };

    // `available` is what lies above `reserve`, the room always left free on the drive; the
    // text names the reserve, so it reads like the drive's free space shown elsewhere.
    static EngineError notEnoughSpaceOnDrive(int64_t needed, int64_t available, int64_t reserve = 0);
    // The same for this computer, whose reserve Keldwick keeps free on it.
    static EngineError notEnoughSpaceOnComputer(int64_t needed, int64_t available, int64_t reserve = 0);
    static EngineError sourceMissing(std::string path);
    static EngineError notEligible(std::string path, std::string reason);
    static EngineError sourceChanged(std::string path);
    static EngineError inUse(std::string path, std::vector<std::string> processNames);
    static EngineError checksumMismatch(std::string path);
    static EngineError destinationExists(std::string path);
    static EngineError driveCopyMissing(std::string path);
    static EngineError driveCopyCorrupted(std::string path);
    static EngineError linkReplaced(std::string path);
    static EngineError alreadyManaged(std::string path);
    static EngineError invalidState(std::string message);
    static EngineError unsupportedItem(std::string path);
    // `path` stays on this computer because an older copy of `of` is still on the drive.
    static EngineError olderCopyOnDrive(std::string path, std::string of);
    static EngineError holdsOtherItems(std::string path);
    static EngineError metadataNotCopied(std::string path);
    static EngineError driveUnavailable();
    // The drive is there but can't be trusted for this step; `why` is the whole sentence.
    static EngineError driveUntrusted(std::string why);

    Kind kind() const { return kind_; }
    // The payloads; fields a case does not carry are empty or zero.
    const std::string& path() const { return path_; }
    // olderCopyOnDrive: the item whose older copy is on the drive.
    const std::string& otherPath() const { return otherPath_; }
    // notEligible: the reason; invalidState, driveUntrusted: the whole message.
    const std::string& text() const { return text_; }
    const std::vector<std::string>& processNames() const { return processNames_; }
    int64_t needed() const { return needed_; }
    int64_t available() const { return available_; }

    // The user-facing sentence (same as what()).
    std::string message() const { return what(); }

    // Same case and equal payloads.
    friend bool operator==(const EngineError& a, const EngineError& b);

private:
    struct Payload {
        Kind kind = Kind::invalidState;
        std::string path{};
        std::string otherPath{};
        std::string text{};
        std::vector<std::string> processNames{};
        int64_t needed = 0;
        int64_t available = 0;
        int64_t reserve = 0;
    };
    explicit EngineError(Payload payload);
    static std::string messageFor(const Payload& payload);

    Kind kind_;
    std::string path_;
    std::string otherPath_;
    std::string text_;
    std::vector<std::string> processNames_;
    int64_t needed_;
    int64_t available_;
};

// The error an operation throws when its CancellationFlag was set.
class CancellationError : public std::runtime_error {
public:
    CancellationError();
};

}  // namespace keldwick
