#include <gtest/gtest.h>

#include <thread>

#include "foundation/CancellationFlag.h"
#include "foundation/EngineError.h"

using namespace keldwick;

TEST(EngineErrorTest, EveryCaseHasItsSentence) {
    const std::string p = "/home/ann/Videos/Trip.mov";
    struct Row {
        EngineError error;
        std::string message;
    };
    const std::vector<Row> rows{
        {EngineError::notEnoughSpaceOnDrive(2'000'000'000, 1'234'567),
         "There isn't enough room on your drive (needs 2.00 GB, has 1.23 MB free)."},
        {EngineError::notEnoughSpaceOnDrive(126'000'000, 45'300'000, 1'073'741'824),
         "There isn't enough room on your drive (needs 126 MB, has 45.3 MB free beyond the 1.07 GB Keldwick always "
         "leaves free on it)."},
        {EngineError::notEnoughSpaceOnComputer(1, 0), "There isn't enough room on your computer (needs 1 byte, has 0 bytes free)."},
        {EngineError::notEnoughSpaceOnComputer(136'000'000, 11'300'000, 1'073'741'824),
         "There isn't enough room on your computer (needs 136 MB, has 11.3 MB free beyond the 1.07 GB Keldwick keeps "
         "free on it)."},
        {EngineError::sourceMissing(p), "\u201CTrip.mov\u201D isn't there anymore."},
        {EngineError::notEligible(p, "Locked"), "\u201CTrip.mov\u201D stays on your computer (Locked)."},
        {EngineError::sourceChanged(p),
         "\u201CTrip.mov\u201D changed while it was being copied, so it stayed on your computer."},
        {EngineError::inUse(p, {"vlc", "Web Content"}),
         "\u201CTrip.mov\u201D is open in vlc, Web Content. Close it and try again."},
        {EngineError::checksumMismatch(p),
         "The copy of \u201CTrip.mov\u201D didn't match the original, so nothing was changed."},
        {EngineError::destinationExists(p), "There's already something called \u201CTrip.mov\u201D where this would go."},
        {EngineError::driveCopyMissing(p), "The copy of \u201CTrip.mov\u201D on your drive is missing."},
        {EngineError::driveCopyCorrupted(p),
         "The copy of \u201CTrip.mov\u201D on your drive seems damaged, so Keldwick left it where it is. You can "
         "still open it, or copy it from the drive yourself."},
        {EngineError::linkReplaced(p), "\u201CTrip.mov\u201D was replaced by a new file on your computer."},
        {EngineError::alreadyManaged(p), "\u201CTrip.mov\u201D is already on your drive."},
        {EngineError::invalidState("Something odd."), "Something odd."},
        {EngineError::invalidState(""), ""},
        {EngineError::unsupportedItem("/home/ann/Projects/"),
         "\u201CProjects\u201D contains something Keldwick can't copy safely (a shortcut or special file)."},
        {EngineError::olderCopyOnDrive("/a/New.txt", "/a/Old.txt"),
         "An older copy of \u201COld.txt\u201D is still on your drive, so \u201CNew.txt\u201D stays on your computer for "
         "now. You can delete the old copy in Files on Your Drive."},
        {EngineError::olderCopyOnDrive(p, p),
         "An older copy of \u201CTrip.mov\u201D is still on your drive, so \u201CTrip.mov\u201D stays on your computer for "
         "now. You can delete the old copy in Files on Your Drive."},
        {EngineError::holdsOtherItems(p),
         "\u201CTrip.mov\u201D on your drive also holds other files you moved, so it can't be deleted."},
        {EngineError::metadataNotCopied(p),
         "The tags, comments or other details of \u201CTrip.mov\u201D couldn't be copied, so it stayed where it was."},
        {EngineError::driveUnavailable(), "Your drive isn't plugged in."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(std::string(row.error.what()), row.message);
        EXPECT_EQ(row.error.message(), row.message);
    }
    // Negative counts read as the formatter gives them.
    EXPECT_EQ(EngineError::notEnoughSpaceOnDrive(-5, -1).message(),
              "There isn't enough room on your drive (needs 0 bytes, has 0 bytes free).");
}

TEST(EngineErrorTest, EqualityIsCaseAndPayload) {
    EXPECT_EQ(EngineError::sourceMissing("/a"), EngineError::sourceMissing("/a"));
    EXPECT_FALSE(EngineError::sourceMissing("/a") == EngineError::sourceMissing("/b"));
    EXPECT_FALSE(EngineError::sourceMissing("/a") == EngineError::sourceChanged("/a"));
    EXPECT_FALSE(EngineError::checksumMismatch("/a") == EngineError::driveCopyCorrupted("/a"));
    EXPECT_FALSE(EngineError::inUse("/a", {"x", "y"}) == EngineError::inUse("/a", {"y", "x"}));
    EXPECT_FALSE(EngineError::notEnoughSpaceOnDrive(1, 2) == EngineError::notEnoughSpaceOnComputer(1, 2));
    EXPECT_FALSE(EngineError::notEnoughSpaceOnDrive(1, 2) == EngineError::notEnoughSpaceOnDrive(1, 3));
    EXPECT_FALSE(EngineError::olderCopyOnDrive("/a", "/b") == EngineError::olderCopyOnDrive("/b", "/a"));
    EXPECT_EQ(EngineError::driveUnavailable().kind(), EngineError::Kind::driveUnavailable);
    EXPECT_EQ(EngineError::inUse("/a", {"x"}).processNames(), std::vector<std::string>{"x"});
}

TEST(EngineErrorTest, CancellationIsNotAnEngineError) {
    try {
        throw CancellationError();
    } catch (const EngineError&) {
        FAIL() << "caught as an engine error";
    } catch (const CancellationError& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
}

TEST(CancellationFlagTest, StaysSetOnceCancelledAndIsSeenAcrossThreads) {
    auto flag = std::make_shared<CancellationFlag>();
    EXPECT_FALSE(flag->isCancelled());
    std::thread([flag] { flag->cancel(); }).join();
    EXPECT_TRUE(flag->isCancelled());
    flag->cancel();
    EXPECT_TRUE(flag->isCancelled());
}
