#include "drives/DriveProfile.h"

#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "foundation/JsonFields.h"

namespace keldwick {

namespace {

constexpr int64_t usb2Limit = 1'000'000'000;  // bits per second

bool onUSB2(const std::optional<DriveHardware>& hardware) {
    return hardware && hardware->usbLinkSpeed && *hardware->usbLinkSpeed < usb2Limit;
}

// An unmeasured drive without a solid-state or rotational report: the speed test
// hasn't run yet.
bool notCheckedYet(const DriveProfile& p) {
    return !p.benchmark && (!p.hardware || p.hardware->medium != DriveHardware::Medium::rotational);
}

// Speeds of 100 or more go to the nearest ten, smaller ones to the nearest whole number,
// halves away from zero. Nothing for a value that can't be shown as a 64-bit integer.
std::optional<std::string> roundedSpeed(double mbps) {
    if (!std::isfinite(mbps) || std::fabs(mbps) >= 9.0e18) return std::nullopt;
    double rounded = std::fabs(mbps) >= 100 ? std::round(mbps / 10) * 10 : std::round(mbps);
    return std::to_string(static_cast<long long>(rounded));
}

const char* const slowUse = "Keldwick will use it for documents, photos, videos, music and downloads";
const char* const appsStay = "Apps stay on your computer, where they run faster.";

}  // namespace

DriveTier DriveProfile::tier() const {
    using Medium = DriveHardware::Medium;
    if (hardware && hardware->medium == Medium::rotational) return DriveTier::hardDrive;
    if (benchmark) {
        const auto& b = *benchmark;
        if (b.randomReadMedianMs >= Thresholds::spinningLatencyMs) return DriveTier::hardDrive;
        if (b.sequentialReadMBps >= Thresholds::fastReadMBps && b.sequentialWriteMBps >= Thresholds::fastWriteMBps &&
            b.randomReadMedianMs <= Thresholds::flashLatencyMs)
            return DriveTier::fastSSD;
        return DriveTier::slow;
    }
    if (!hardware || hardware->medium != Medium::solidState) return DriveTier::hardDrive;
    return onUSB2(hardware) ? DriveTier::slow : DriveTier::fastSSD;
}

std::optional<bool> DriveProfile::measuredAsSpinning() const {
    if (!benchmark) return std::nullopt;
    if (benchmark->randomReadMedianMs >= Thresholds::spinningLatencyMs) return true;
    if (benchmark->randomReadMedianMs <= Thresholds::flashLatencyMs) return false;
    return std::nullopt;
}

bool DriveProfile::misreportsMedium() const {
    return hardware && hardware->medium == DriveHardware::Medium::solidState && benchmark &&
           benchmark->randomReadMedianMs >= Thresholds::spinningLatencyMs;
}

std::string DriveProfile::kind() const {
    switch (tier()) {
        case DriveTier::fastSSD: return "Fast SSD";
        case DriveTier::slow: return "Slow drive";
        case DriveTier::hardDrive: return notCheckedYet(*this) ? "Not checked yet" : "Hard drive";
    }
    return "Hard drive";
}

std::string DriveProfile::summary() const {
    switch (tier()) {
        case DriveTier::fastSSD:
            return "This is a fast drive, so Keldwick can move whole folders to it too. Apps stay on your computer.";
        case DriveTier::slow: {
            std::string reason = onUSB2(hardware) ? "is connected over USB 2, which is slow" : "is on the slow side";
            return "This drive " + reason + ", so " + slowUse + ". " + appsStay;
        }
        case DriveTier::hardDrive:
            break;
    }
    if (notCheckedYet(*this))
        return "Until Keldwick has checked this drive's speed, it will only use it for documents, photos, videos, "
               "music and downloads.";
    std::string opening =
        misreportsMedium() ? "This drive says it's an SSD, but it works like a hard drive" : "This is a hard drive";
    return opening + ", so " + slowUse + ". " + appsStay;
}

std::optional<std::string> DriveProfile::speedDetails() const {
    if (!benchmark) return std::nullopt;
    auto read = roundedSpeed(benchmark->sequentialReadMBps);
    auto write = roundedSpeed(benchmark->sequentialWriteMBps);
    if (!read || !write) return std::nullopt;
    return "Reads about " + *read + " MB/s, writes about " + *write + " MB/s";
}

nlohmann::json DriveProfile::toJson() const {
    nlohmann::json j = nlohmann::json::object();
    if (hardware) j["hardware"] = *hardware;
    if (benchmark) j["benchmark"] = benchmark->toJson();
    return j;
}

DriveProfile DriveProfile::fromJson(const nlohmann::json& object) {
    using namespace JsonFields;
    if (!object.is_object()) throw Mismatch("drive profile is not an object");
    DriveProfile p;
    if (const nlohmann::json* h = member(object, "hardware"); h && !h->is_null()) {
        try {
            p.hardware = h->get<DriveHardware>();
        } catch (const nlohmann::json::exception& error) {
            throw Mismatch(error.what());
        } catch (const std::invalid_argument& error) {
            throw Mismatch(error.what());
        }
    }
    if (const nlohmann::json* b = member(object, "benchmark"); b && !b->is_null())
        p.benchmark = BenchmarkResult::fromJson(*b);
    return p;
}

}  // namespace keldwick
