#pragma once
// Everything the "System Data" window shows, as one value computed from the model's state
// and the window's own state: the caches with their tick boxes and the Clear button, the
// large movable items with their Move buttons, and the footer. Also the texts of what an
// operation ends with. The window only lays this out.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "model/ModelState.h"
#include "space/CacheLocation.h"
#include "space/MovableData.h"

namespace keldwick {

// The window's own state; it starts afresh each time the window opens.
struct SystemDataState {
    std::optional<std::vector<CacheLocation>> caches;  // none until the first measuring ends
    std::set<std::string> chosen;                      // names of the ticked caches
    std::optional<std::vector<MovableData>> movable;   // none until the search ends
    std::optional<std::string> working;                // the operation under way
    std::optional<std::string> message;                // the last operation's outcome
};

struct CacheRow {
    std::string name;
    std::string note;
    std::string sizeText;
    bool ticked = false;
    bool operator==(const CacheRow&) const = default;
};

struct MovableRow {
    std::string path;
    std::string name;
    std::string subtitle;
    std::string sizeText;
    std::string symbol;  // for app files, used when no installed app matches
    bool moveEnabled = false;
    bool operator==(const MovableRow&) const = default;
};

struct SystemDataScreen {
    std::string clearTitle;  // "Clear 1.20 GB…"
    bool clearEnabled = false;
    std::string confirmTitle;  // "Delete 1.20 GB of caches?"
    bool cachesLoading = true;
    bool noCaches = false;  // "No caches to clear."
    std::vector<CacheRow> caches;

    std::string movableTitle;     // "Move to <drive>"
    std::string movableSubtitle;  // what moving asks of the drive, or to plug it in
    bool movableLoading = true;
    bool nothingToMove = false;  // "Nothing big to move."
    std::vector<MovableRow> movable;

    bool showsProgress = false;  // the footer's spinner, beside `footer`
    std::string footer;          // the operation under way, else the last outcome, else empty

    bool operator==(const SystemDataScreen&) const = default;
};

inline constexpr const char* kCachesTitle = "Caches";
inline constexpr const char* kCachesSubtitle = "Their apps rebuild them.";
inline constexpr const char* kAddingUp = "Adding up\u2026";
inline constexpr const char* kNoCaches = "No caches to clear.";
inline constexpr const char* kNothingToMove = "Nothing big to move.";
inline constexpr const char* kClearingCaches = "Clearing caches\u2026";
inline constexpr const char* kDeleteAction = "Delete";
inline constexpr const char* kDeleteMessage = "Anything an app has open right now stays.";
inline constexpr const char* kTestModeNothingMoved = "Test mode is on: nothing was moved.";

// The sizes of the ticked caches added up; a ticked name no cache carries adds nothing.
int64_t chosenBytes(const SystemDataState& view);
// Setup is complete, the drive is mounted, the model is idle and nothing runs here.
bool canMove(const ModelState& state, const SystemDataState& view);

SystemDataScreen systemDataScreen(const ModelState& state, const SystemDataState& view, Date now);

// "App files · changed 3 days ago", "Android emulator · changed yesterday", or
// "Open in <app>" for an item an app holds open.
std::string movableSubtitle(const MovableData& item, Date now);
// The symbol of an item's kind ("application" for app files without an app of their own).
std::string movableSymbol(MovableData::Kind kind);

// "Freed 1.20 GB." and, when entries were kept, how many an app had open.
std::string clearedMessage(int64_t freed, int64_t kept);
// "Moving “name” to <drive>…"
std::string movingText(const MovableData& item, const ModelState& state);

struct MoveOutcome {
    bool moved = false;  // the row goes
    std::string message;
    bool operator==(const MoveOutcome&) const = default;
};

// What a move of `item` came to. `linked` is whether a link into the drive now stands at
// the item's place (linksIntoDrive); `returned` is the model's explanation, if any. A test
// run moves nothing and says so rather than reporting a failure.
MoveOutcome moveOutcome(const MovableData& item, const ModelState& state, bool linked,
                        const std::optional<std::string>& returned);

// True when `path` is a symbolic link that resolves to an item strictly inside the drive
// mounted at `driveRoot`. Any other link (or none, or no drive) is not a finished move.
bool linksIntoDrive(const std::string& path, const std::optional<std::string>& driveRoot);

// Drops the moved item from the list.
void removeMovable(SystemDataState& view, const std::string& path);

}  // namespace keldwick
