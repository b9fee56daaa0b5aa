#pragma once
// What the tray and the windows show of the model's state: filtered record lists,
// the gate for moving files, the drive's name, the menu's status lines and level, the
// fill levels and the glyph's mark. Each is recomputed from a ModelState on every read.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/OffloadRecord.h"
#include "model/GlyphMark.h"
#include "model/ModelState.h"
#include "model/StorageFill.h"

namespace keldwick {

// The menu's status area: a headline, an optional second line, and a level: 0 all is
// well, 1 working or waiting for the system, 2 the user should look or act.
struct MenuStatus {
    std::string headline;
    std::optional<std::string> detail;
    int level = 0;
    bool operator==(const MenuStatus&) const = default;
};

// Whether `record` is offloaded to the chosen drive (any drive while none is chosen).
// Records of an earlier drive are listed with that drive's name, never counted as the
// chosen one's.
bool isOnChosenDrive(const ModelState& state, const OffloadRecord& record);
// The records offloaded to the chosen drive (they live on it now), in records order.
std::vector<OffloadRecord> offloadedRecords(const ModelState& state);
// Their sizes added up, saturating; 0 for none.
int64_t offloadedBytes(const ModelState& state);
// The records in phase "returned" or "link-missing", in records order.
std::vector<OffloadRecord> recordsNeedingAttention(const ModelState& state);
// The same questions without copying records, for what is asked at every change of state
// (the tray's icon, the panel, the windows' bars) over journals of any size.
bool hasOffloaded(const ModelState& state);
size_t needingAttentionCount(const ModelState& state);
// recordCountText of the records offloaded to the chosen drive.
std::string offloadedCountText(const ModelState& state);

// Moves are allowed exactly while the journal is usable; every road that moves files
// asks first. canMoveFiles is the same gate under the windows' name.
bool canOffload(const ModelState& state);
inline bool canMoveFiles(const ModelState& state) { return canOffload(state); }

// The chosen drive's name, else the mounted volume's name, else "your drive".
std::string driveDisplayName(const ModelState& state);

// The last component of each managed folder, joined as the locale joins a list with
// "and" ("Desktop, Documents, and Downloads" in American English). `locale` is an ICU
// locale id; empty means the interface's English in the process's default region.
std::string managedFolderNames(const ModelState& state, const std::string& locale = "");

// The minimum age in words: "a month" (30 days), "a week" (7), "2 weeks" (a multiple of
// 7), else "10 days".
std::string minimumAgeText(const ModelState& state);

// "2 of 3: name" while an operation of several items runs, the item's name alone for
// one item; none without progress.
std::optional<std::string> progressText(const ModelState& state);

// The status while the settings file, found damaged at start and set aside, has not been
// replaced by a finished setup; also the notice posted at start.
MenuStatus settingsSetAsideStatus();
// Keldwick.conf (the update switches) was damaged and set aside at start.
MenuStatus preferencesSetAsideStatus();

// The alert of a launch that finds Keldwick running and gets no answer from it: where to
// look for it, in the tray when the desktop has one.
MenuStatus alreadyRunningAlert(bool hasTray);

// Why the chosen drive is mounted but not used, in place of "isn't plugged in": the first
// refused volume's path, then the refusal's reason and what the user can do. Nothing when
// no volume carrying the drive was refused.
std::optional<std::string> refusedDriveText(const ModelState& state);

// `message`, unless it is the engine's "drive isn't plugged in" while a volume carrying
// the drive is mounted but refused: then refusedDriveText.
std::string driveMessage(const ModelState& state, const std::string& message);

// The menu's status: the first of 24 rules in order of precedence (setup, records,
// running work, drive waking and mounting, volumes refused as the drive, drive away, permission, pause, no drive or
// folders, low space by stall, else plenty of room).
MenuStatus statusText(const ModelState& state);

// This computer's fill, with the keep-free mark only once setup is complete.
FillLevel computerFillLevel(const ModelState& state);
// The drive's used fraction, clamped to 0...1 (0 for a total below 1); none without a
// mounted drive volume.
std::optional<double> driveFillFraction(const ModelState& state);

// driveAway when moved items are on a chosen drive that is away, overflow when this computer is
// past its keep-free mark (both only after setup), attention at status level 2, else none.
TrayGlyph::Mark trayMark(const ModelState& state);

}  // namespace keldwick
