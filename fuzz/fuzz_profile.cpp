// The drive profile kept in the settings: hardware facts and a speed test's figures.
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "drives/DriveProfile.h"
#include "foundation/JsonFields.h"
#include "scanning/OffloadPolicy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto json = nlohmann::json::parse(data, data + size, nullptr, false);
    if (json.is_discarded()) return 0;
    keldwick::DriveProfile profile;
    try {
        profile = keldwick::DriveProfile::fromJson(json);
    } catch (const keldwick::JsonFields::Mismatch&) {
        return 0;
    }
    profile.tier();
    profile.kind();
    profile.summary();
    profile.speedDetails();
    profile.misreportsMedium();
    keldwick::policyForDrive(profile, keldwick::OffloadPolicy());
    if (keldwick::DriveProfile::fromJson(profile.toJson()) != profile) std::abort();
    return 0;
}
