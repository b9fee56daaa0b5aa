#pragma once
// Everything the tray panel shows, as plain values: the header, then rows top to bottom
// (status with progress, storage bars, what was moved and the last run, the commands),
// each with its texts, colours and enabled state. The panel widget only lays these out
// and hands a clicked row's command back, so every rule is tested without a display.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "model/ModelState.h"

namespace keldwick {

// What a row does when clicked (or its shortcut is pressed).
enum class PanelCommand {
    none,
    stop,           // cancel the running operation
    setUp,          // the onboarding window
    givePermission, // the permission window
    freeUpSpace,    // a manual preview, with its window
    moveFiles,      // pick files and move them to the drive
    systemData,     // the system data window
    showFiles,      // the window of files on the drive
    update,         // the updater's own window
    settings,       // the settings window
    quit,
};

enum class Tint { primary, secondary, accent, orange };

struct PanelRow {
    enum class Kind { separator, sectionHeader, status, progress, storage, info, note, action };
    Kind kind = Kind::separator;
    std::string title;
    std::string value;                  // info and storage: the right-hand text; action: trailing text
    std::optional<std::string> detail;  // status: the second line
    std::string symbol;                 // status and storage rows
    std::optional<double> fill;         // storage: used fraction (none: no bar); progress: none = indeterminate
    std::optional<double> mark;         // storage: the keep-free tick
    Tint tint = Tint::primary;          // status: the symbol's circle; storage: the bar
    Tint valueTint = Tint::secondary;
    bool enabled = true;
    std::optional<char> shortcut;       // with the platform's command modifier (Ctrl)
    PanelCommand command = PanelCommand::none;
    std::string help;                   // tooltip; empty for none
    bool operator==(const PanelRow&) const = default;
};

struct PanelHeader {
    bool testMode = false;
    std::string subtitle;
    std::optional<bool> moveAutomatically;  // the switch; none before setup
    std::string switchHelp;
    bool operator==(const PanelHeader&) const = default;
};

struct PanelContents {
    PanelHeader header;
    std::vector<PanelRow> rows;
    bool operator==(const PanelContents&) const = default;
};

inline constexpr const char* testModeHelp =
    "Keldwick only notes what it would move. Turn this off in Settings \u2192 Advanced.";
inline constexpr const char* stopHelp = "Stops after the current file. Nothing is lost.";

// Drive mounted, idle, journal usable and permission granted, in that order.
bool canMoveNow(const ModelState& state);

// The panel for the model's state; `availableUpdate` is the version an update check
// found; `now` dates the last run; `locale` (an ICU id, empty for the default) words it.
PanelContents panel(const ModelState& state, const std::optional<std::string>& availableUpdate, Date now,
            const std::string& locale = "");

// The progress bar's fill, the fraction its text tells: while item i of n is copied ("i of
// n: name"), between (i - 1) / n and i / n by the item's bytes; one item alone fills by
// its bytes, and without a byte count it has no fill (an indeterminate bar).
std::optional<double> progressFill(const std::optional<EngineProgress>& progress);

// What a screen reader says for a row: a command row its title and trailing text, the
// status its headline and detail, joined with ", ".
std::string accessibleRowName(const PanelRow& row);

// The storage bar's description for accessibility: the value and "<n> percent full"
// (the fill rounded half away from zero), the non-empty ones joined with ", ".
std::string storageAccessibleValue(const PanelRow& row);

}  // namespace keldwick
