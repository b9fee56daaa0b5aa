#pragma once
// The step boundaries of a move and of a restore, named by the step just completed.
// Tests stop the engine at one of them as a crash would; the names are stored and
// compared as the exact strings below.

#include <optional>
#include <string>
#include <vector>

namespace keldwick {

enum class FaultPoint {
    offloadRecorded,
    offloadMidCopy,
    offloadCopied,
    offloadVerified,
    offloadLinkStaged,
    offloadSwapped,
    restoreRecorded,
    restoreMidCopy,
    restoreVerified,
    restoreLinkRemoved,
    restoreSwapped,
    restoreDriveCopyDeleted,
};

// The case name, e.g. "offloadMidCopy".
std::string toString(FaultPoint point);
// The case with exactly this name (letter case included), or none.
std::optional<FaultPoint> parseFaultPoint(const std::string& raw);

namespace FaultPoints {
// All twelve in order; the six of a move; the six of a restore.
const std::vector<FaultPoint>& allCases();
const std::vector<FaultPoint>& offloadPoints();
const std::vector<FaultPoint>& restorePoints();
}  // namespace FaultPoints

}  // namespace keldwick
