#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "drives/DriveProfile.h"
#include "foundation/JsonFields.h"
#include "scanning/OffloadPolicy.h"

using namespace keldwick;
using Medium = DriveHardware::Medium;

namespace {

DriveHardware hardware(Medium medium, std::optional<int64_t> linkSpeed = std::nullopt) {
    DriveHardware h;
    h.medium = medium;
    h.usbLinkSpeed = linkSpeed;
    return h;
}

BenchmarkResult bench(double read, double write, double median) {
    BenchmarkResult b;
    b.sequentialReadMBps = read;
    b.sequentialWriteMBps = write;
    b.randomReadMedianMs = median;
    b.randomReadP90Ms = median * 2;
    b.bytesTested = 64 << 20;
    b.date = Date{1'700'000'000};
    return b;
}

const char* const notChecked =
    "Until Keldwick has checked this drive's speed, it will only use it for documents, photos, videos, music and "
    "downloads.";

}  // namespace

TEST(DriveProfileTest, TierKindAndSummaryFollowTheFirstMatchingRule) {
    struct Row {
        std::optional<DriveHardware> hw;
        std::optional<BenchmarkResult> b;
        DriveTier tier;
        const char* kind;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, DriveTier::hardDrive, "Not checked yet"},
        {hardware(Medium::solidState), std::nullopt, DriveTier::fastSSD, "Fast SSD"},
        {hardware(Medium::solidState, 480'000'000), std::nullopt, DriveTier::slow, "Slow drive"},
        {hardware(Medium::solidState, 1'000'000'000), std::nullopt, DriveTier::fastSSD, "Fast SSD"},
        {hardware(Medium::solidState), bench(500, 500, 3.0), DriveTier::hardDrive, "Hard drive"},
        {std::nullopt, bench(250, 149, 0.5), DriveTier::slow, "Slow drive"},
        {std::nullopt, bench(200, 150, 1.0), DriveTier::fastSSD, "Fast SSD"},
        {std::nullopt, bench(900, 900, 1.2), DriveTier::slow, "Slow drive"},
        {std::nullopt, bench(900, 900, 2.5), DriveTier::hardDrive, "Hard drive"},
        {hardware(Medium::rotational), bench(2000, 2000, 0.1), DriveTier::hardDrive, "Hard drive"},
        {hardware(Medium::rotational), std::nullopt, DriveTier::hardDrive, "Hard drive"},
        {hardware(Medium::unknown), std::nullopt, DriveTier::hardDrive, "Not checked yet"},
    };
    for (const auto& row : rows) {
        DriveProfile p{row.hw, row.b};
        EXPECT_EQ(p.tier(), row.tier) << row.kind;
        EXPECT_EQ(p.kind(), row.kind);
    }

    EXPECT_EQ(DriveProfile{}.summary(), notChecked);
    EXPECT_EQ((DriveProfile{hardware(Medium::unknown), std::nullopt}).summary(), notChecked);
    EXPECT_EQ((DriveProfile{hardware(Medium::solidState), std::nullopt}).summary(),
              "This is a fast drive, so Keldwick can move whole folders to it too. Apps stay on your computer.");
    EXPECT_EQ((DriveProfile{hardware(Medium::solidState, 480'000'000), std::nullopt}).summary(),
              "This drive is connected over USB 2, which is slow, so Keldwick will use it for documents, photos, "
              "videos, music and downloads. Apps stay on your computer, where they run faster.");
    EXPECT_EQ((DriveProfile{std::nullopt, bench(250, 149, 0.5)}).summary(),
              "This drive is on the slow side, so Keldwick will use it for documents, photos, videos, music and "
              "downloads. Apps stay on your computer, where they run faster.");
    EXPECT_EQ((DriveProfile{hardware(Medium::solidState), bench(500, 500, 3.0)}).summary(),
              "This drive says it's an SSD, but it works like a hard drive, so Keldwick will use it for documents, "
              "photos, videos, music and downloads. Apps stay on your computer, where they run faster.");
    EXPECT_EQ((DriveProfile{hardware(Medium::rotational), std::nullopt}).summary(),
              "This is a hard drive, so Keldwick will use it for documents, photos, videos, music and downloads. "
              "Apps stay on your computer, where they run faster.");
}

TEST(DriveProfileTest, MeasuredAsSpinningAndMisreportedMedium) {
    EXPECT_EQ(DriveProfile{}.measuredAsSpinning(), std::nullopt);
    EXPECT_EQ((DriveProfile{std::nullopt, bench(1, 1, 2.5)}).measuredAsSpinning(), true);
    EXPECT_EQ((DriveProfile{std::nullopt, bench(1, 1, 1.0)}).measuredAsSpinning(), false);
    EXPECT_EQ((DriveProfile{std::nullopt, bench(1, 1, 1.2)}).measuredAsSpinning(), std::nullopt);

    EXPECT_TRUE((DriveProfile{hardware(Medium::solidState), bench(1, 1, 3.0)}).misreportsMedium());
    EXPECT_FALSE((DriveProfile{hardware(Medium::unknown), bench(1, 1, 3.0)}).misreportsMedium());
    EXPECT_FALSE((DriveProfile{hardware(Medium::solidState), bench(1, 1, 2.0)}).misreportsMedium());
    EXPECT_FALSE((DriveProfile{hardware(Medium::solidState), std::nullopt}).misreportsMedium());
}

TEST(DriveProfileTest, SpeedDetailsRoundForDisplayAndNeverFailOnOddValues) {
    EXPECT_EQ(DriveProfile{}.speedDetails(), std::nullopt);
    EXPECT_EQ((DriveProfile{std::nullopt, bench(1234.5, 95.5, 1)}).speedDetails(),
              "Reads about 1230 MB/s, writes about 96 MB/s");
    EXPECT_EQ((DriveProfile{std::nullopt, bench(99.5, 105, 1)}).speedDetails(),
              "Reads about 100 MB/s, writes about 110 MB/s");
    EXPECT_EQ((DriveProfile{std::nullopt, bench(0.4, 0, 1)}).speedDetails(), "Reads about 0 MB/s, writes about 0 MB/s");

    const double odd[] = {std::nan(""), std::numeric_limits<double>::infinity(), 1e300};
    for (double v : odd) {
        DriveProfile p{std::nullopt, bench(v, v, v)};
        EXPECT_EQ(p.speedDetails(), std::nullopt);
        EXPECT_EQ(p.tier(), std::isnan(v) ? DriveTier::slow : DriveTier::hardDrive);
    }
}

TEST(DriveProfileTest, PolicyOverwritesExactlyTheFourTierFields) {
    OffloadPolicy base;
    base.minimumAge = 123;
    base.maxFolderFileCount = 5;
    base.allowedExtensions = {"zzz"};
    base.moveProjects = false;
    base.driveIsNativeFormat = false;

    OffloadPolicy slow = policyForDrive(DriveProfile{}, base);
    EXPECT_EQ(slow.maxFolderFileCount, 1000);
    EXPECT_EQ(slow.allowedTypes, OffloadPolicy::sequentialTypes());
    EXPECT_EQ(slow.allowedExtensions, OffloadPolicy::sequentialExtensions());
    EXPECT_EQ(slow.deniedTypes, OffloadPolicy::randomAccessTypes());

    OffloadPolicy fast = policyForDrive(DriveProfile{hardware(Medium::solidState), std::nullopt}, slow);
    EXPECT_EQ(fast.maxFolderFileCount, 20000);
    EXPECT_FALSE(fast.allowedTypes.has_value());
    EXPECT_TRUE(fast.allowedExtensions.empty());
    EXPECT_TRUE(fast.deniedTypes.empty());

    // Everything else passes through unchanged.
    for (OffloadPolicy p : {slow, fast}) {
        p.maxFolderFileCount = base.maxFolderFileCount;
        p.allowedTypes = base.allowedTypes;
        p.allowedExtensions = base.allowedExtensions;
        p.deniedTypes = base.deniedTypes;
        EXPECT_EQ(p, base);
    }
}

TEST(DriveProfileTest, CodedFormRoundTripsAndRejectsMalformedRecords) {
    DriveHardware h = hardware(Medium::solidState, 5'000'000'000);
    h.vendor = "Acme";
    DriveProfile full{h, bench(412.5, 380.25, 0.18)};
    nlohmann::json j = full.toJson();
    EXPECT_EQ(j["hardware"]["medium"], "solidState");
    EXPECT_FALSE(j["hardware"].contains("product"));
    EXPECT_DOUBLE_EQ(j["benchmark"]["date"].get<double>(), 1'700'000'000 - 978'307'200.0);
    EXPECT_EQ(DriveProfile::fromJson(nlohmann::json::parse(j.dump())), full);
    EXPECT_EQ(DriveProfile{}.toJson(), nlohmann::json::object());

    auto onlyMedium = DriveProfile::fromJson(nlohmann::json::parse(R"({"hardware":{"medium":"rotational"}})"));
    EXPECT_EQ(onlyMedium.hardware, hardware(Medium::rotational));
    EXPECT_FALSE(onlyMedium.benchmark);

    const char* bad[] = {
        R"([])",
        R"({"hardware":{}})",
        R"({"hardware":{"medium":"Solid State"}})",
        R"({"hardware":{"medium":"solidState","usbLinkSpeed":"fast"}})",
        R"({"benchmark":{"sequentialWriteMBps":1,"sequentialReadMBps":1,"randomReadMedianMs":1,"randomReadP90Ms":1,"bytesTested":1}})",
        R"({"benchmark":{"sequentialWriteMBps":1,"sequentialReadMBps":1,"randomReadMedianMs":1,"randomReadP90Ms":1,"bytesTested":1.5,"date":0}})",
    };
    for (const char* text : bad)
        EXPECT_THROW(DriveProfile::fromJson(nlohmann::json::parse(text)), JsonFields::Mismatch) << text;
}

TEST(DriveTierTest, RawStringsAreExact) {
    for (DriveTier t : {DriveTier::fastSSD, DriveTier::slow, DriveTier::hardDrive})
        EXPECT_EQ(parseDriveTier(toString(t)), t);
    EXPECT_EQ(toString(DriveTier::fastSSD), "fastSSD");
    EXPECT_EQ(parseDriveTier("FastSSD"), std::nullopt);
    EXPECT_EQ(parseDriveTier("hard-drive"), std::nullopt);
}
