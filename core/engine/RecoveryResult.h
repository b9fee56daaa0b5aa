#pragma once
// What recovery did to one journal record, for the program to turn into notices.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace keldwick {

// Stored and shown by the case names, in this order.
enum class RecoveryAction {
    rolledBack,         // the move or restore was undone
    rolledForward,      // the move or restore was finished, or its link made again
    deferred,           // nothing could be settled now; the next recovery tries again
    markedReturned,     // another item stands at the original path; the drive copy stays
    markedLinkMissing,  // the link is gone or points elsewhere; the drive copy stays
    relinked,           // the link came back, or now points at the drive's new place
    adopted,            // an item found in the drive's manifest joined the journal
    unchanged,          // nothing needed doing
};

// "rolledBack" ... "unchanged".
std::string_view toString(RecoveryAction action);
// Exactly one of the eight names; nothing for anything else.
std::optional<RecoveryAction> parseRecoveryAction(std::string_view text);

// How the warning events begin that name manifest entries recovery left on the drive
// without adding them to the journal; the program tells the user about them.
inline constexpr const char* kLeftOnDriveWarning = "Left on the drive, not added to Keldwick's list, because ";

struct RecoveryResult {
    int64_t recordID = 0;
    std::string name;  // the item's display name
    RecoveryAction action = RecoveryAction::unchanged;
    std::optional<std::string> detail;  // the reason or message where the action has one

    bool operator==(const RecoveryResult&) const = default;
};

}  // namespace keldwick

template <>
struct std::hash<keldwick::RecoveryResult> {
    size_t operator()(const keldwick::RecoveryResult& result) const noexcept;
};
