#pragma once
// The outcome of one speed test of a drive, as the settings keep it.

#include <cstdint>

#include <nlohmann/json.hpp>

#include "foundation/Date.h"

namespace keldwick {

struct BenchmarkResult {
    double sequentialWriteMBps = 0;  // megabytes of 10^6 bytes per second
    double sequentialReadMBps = 0;
    double randomReadMedianMs = 0;   // one random 4,096-byte read
    double randomReadP90Ms = 0;
    int64_t bytesTested = 0;         // bytes written in the write phase
    Date date;                       // when the test finished

    bool operator==(const BenchmarkResult&) const = default;

    // All six keys; "date" is seconds since 1 January 2001 as a number.
    nlohmann::json toJson() const;
    // All six keys are required. Throws JsonFields::Mismatch on a missing or mistyped
    // key, and on a speed or time that is not a finite number.
    static BenchmarkResult fromJson(const nlohmann::json& object);
};

}  // namespace keldwick
