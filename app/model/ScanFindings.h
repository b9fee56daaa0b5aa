#pragma once
// A finished scan kept for the preview, so the preview shows its plan without scanning again.

#include <cstdint>

#include "scanning/OffloadPlanner.h"
#include "scanning/Scanner.h"

namespace keldwick {

struct ScanFindings {
    ScanReport report;
    OffloadPlan plan;
    int64_t driveRoom = 0;  // free bytes on the drive
    bool operator==(const ScanFindings&) const = default;
};

}  // namespace keldwick
