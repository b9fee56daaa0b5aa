#include "tray/PopoverRows.h"

#include <algorithm>

#include "foundation/Formatting.h"
#include "model/StatusTexts.h"
#include "ui/RelativeDate.h"

namespace keldwick {

namespace {

PanelRow separator() { return {}; }

PanelRow action(std::string title, bool enabled, PanelCommand command) {
    PanelRow row;
    row.kind = PanelRow::Kind::action;
    row.title = std::move(title);
    row.enabled = enabled;
    row.command = command;
    return row;
}

std::optional<double> keepFreeMark(const ModelState& state) {
    if (!state.settings.onboardingComplete || !state.computerTotalBytes || *state.computerTotalBytes < 1) return std::nullopt;
    return state.settings.keepFreeMark(*state.computerTotalBytes);
}

std::string subtitle(const AppSettings& settings) {
    if (!settings.onboardingComplete) return "Not set up yet";
    if (settings.isPaused) return "Paused: nothing moves on its own";
    // Whole gigabytes, the remainder dropped: 25.5 GB keeps "25".
    return "Keeps " + std::to_string(settings.thresholdBytes / 1'000'000'000) + " GB free on this computer";
}

}  // namespace

std::optional<double> progressFill(const std::optional<EngineProgress>& progress) {
    if (!progress) return std::nullopt;
    const double part = progress->itemBytesTotal >= 1 ? std::clamp(static_cast<double>(progress->itemBytesDone) /
                                                                       static_cast<double>(progress->itemBytesTotal),
                                                                   0.0, 1.0)
                                                      : 0.0;
    if (progress->itemCount >= 2) {
        const double count = static_cast<double>(progress->itemCount);
        const double index = std::clamp(static_cast<double>(progress->itemIndex), 0.0, count - 1);
        return (index + part) / count;
    }
    if (progress->itemBytesTotal < 1) return std::nullopt;
    return part;
}

namespace {

void addStatus(const ModelState& state, std::vector<PanelRow>& rows) {
    const MenuStatus status = statusText(state);
    if (status.level == 0) return;
    rows.push_back(separator());
    PanelRow row;
    row.kind = PanelRow::Kind::status;
    row.title = status.headline;
    row.detail = status.detail;
    row.symbol = status.level == 1 ? "arrow-right" : "warning-mark";
    row.tint = status.level == 1 ? Tint::accent : Tint::orange;
    rows.push_back(row);
    if (state.activity != Activity::moving && state.activity != Activity::restoring) return;
    PanelRow progress;
    progress.kind = PanelRow::Kind::progress;
    progress.title = "Stop";
    progress.help = stopHelp;
    progress.command = PanelCommand::stop;
    progress.fill = progressFill(state.progress);
    rows.push_back(progress);
}

void addStorage(const ModelState& state, std::vector<PanelRow>& rows) {
    PanelRow header;
    header.kind = PanelRow::Kind::sectionHeader;
    header.title = "Storage";
    rows.push_back(header);

    const FillLevel level = computerFillLevel(state);
    const bool overLine = level.mark && level.fill > *level.mark;
    PanelRow computer;
    computer.kind = PanelRow::Kind::storage;
    computer.title = "This Computer";
    computer.symbol = "computer";
    computer.fill = level.fill;
    computer.tint = overLine ? Tint::orange : Tint::accent;
    computer.value = state.computerFreeBytes ? byteCountText(*state.computerFreeBytes) + " free" : "";
    computer.valueTint = overLine ? Tint::orange : Tint::secondary;
    computer.mark = keepFreeMark(state);
    rows.push_back(computer);

    PanelRow drive;
    drive.kind = PanelRow::Kind::storage;
    drive.symbol = "drive";
    drive.tint = Tint::secondary;
    const bool chosen = state.settings.onboardingComplete && state.settings.drive;
    if (chosen && state.driveVolume) {
        drive.title = driveDisplayName(state);
        drive.fill = driveFillFraction(state);
        drive.tint = Tint::accent;
        drive.value = byteCountText(state.driveVolume->availableBytes) + " free";
    } else if (chosen) {
        drive.title = driveDisplayName(state);
        drive.value = "Not connected";
    } else {
        drive.title = "No drive chosen";
    }
    rows.push_back(drive);
}

void addMovedAndLastRun(const ModelState& state, Date now, const std::string& locale, std::vector<PanelRow>& rows) {
    const bool anyMoved = hasOffloaded(state);
    if (!anyMoved && !state.lastRunDate) return;
    rows.push_back(separator());
    if (anyMoved) {
        PanelRow moved;
        moved.kind = PanelRow::Kind::info;
        moved.title = "Moved to " + driveDisplayName(state);
        moved.value = byteCountText(offloadedBytes(state));
        rows.push_back(moved);
    }
    if (state.lastRunDate) {
        PanelRow lastRun;
        lastRun.kind = PanelRow::Kind::info;
        lastRun.title = "Last run";
        lastRun.value = lastRunText(*state.lastRunDate, now, locale);
        lastRun.help = state.lastRun.value_or("");
        rows.push_back(lastRun);
    }
    // In test mode the last test run's result is always in view.
    if (state.settings.dryRunMode && state.lastRun && !state.lastRun->empty()) {
        PanelRow note;
        note.kind = PanelRow::Kind::note;
        note.title = *state.lastRun;
        rows.push_back(note);
    }
}

void addCommands(const ModelState& state, const std::optional<std::string>& availableUpdate,
                 std::vector<PanelRow>& rows) {
    rows.push_back(separator());
    const AppSettings& settings = state.settings;
    if (!settings.onboardingComplete) {
        rows.push_back(action("Set Up Keldwick\u2026", true, PanelCommand::setUp));
    } else {
        const bool movable = canMoveNow(state);
        const std::string driveName = driveDisplayName(state);
        if (!state.canReadHome) {
            rows.push_back(action("Give Keldwick Permission\u2026", true, PanelCommand::givePermission));
        }
        rows.push_back(action("Free Up Space\u2026", movable, PanelCommand::freeUpSpace));
        if (settings.drive) {
            rows.push_back(action("Move Files to " + driveName + "\u2026", movable, PanelCommand::moveFiles));
        }
        rows.push_back(action("System Data\u2026", true, PanelCommand::systemData));
        if (settings.drive) {
            PanelRow files = action("Show Files on " + driveName + "\u2026", true, PanelCommand::showFiles);
            const size_t attention = needingAttentionCount(state);
            if (attention != 0) {
                files.value = std::to_string(attention) + " need attention";
                files.valueTint = Tint::orange;
            }
            rows.push_back(files);
        }
    }
    if (availableUpdate) {
        rows.push_back(action("Update to Keldwick " + *availableUpdate + "\u2026", true, PanelCommand::update));
    }
    rows.push_back(separator());
    PanelRow settingsRow = action("Keldwick Settings\u2026", true, PanelCommand::settings);
    settingsRow.shortcut = ',';
    rows.push_back(settingsRow);
    PanelRow quit = action("Quit Keldwick", true, PanelCommand::quit);
    quit.shortcut = 'q';
    rows.push_back(quit);
}

}  // namespace

bool canMoveNow(const ModelState& state) {
    return state.driveRoot && state.activity == Activity::idle && canMoveFiles(state) && state.canReadHome;
}

PanelContents panel(const ModelState& state, const std::optional<std::string>& availableUpdate, Date now,
            const std::string& locale) {
    PanelContents result;
    result.header.testMode = state.settings.dryRunMode;
    result.header.subtitle = subtitle(state.settings);
    if (state.settings.onboardingComplete) {
        result.header.moveAutomatically = !state.settings.isPaused;
        result.header.switchHelp =
            state.settings.isPaused ? "Paused. Turn on to let Keldwick free up space when your computer runs low."
                                    : "On: Keldwick frees up space when your computer runs low. Turn off to pause.";
    }
    addStatus(state, result.rows);
    result.rows.push_back(separator());
    addStorage(state, result.rows);
    addMovedAndLastRun(state, now, locale, result.rows);
    addCommands(state, availableUpdate, result.rows);
    return result;
}

std::string accessibleRowName(const PanelRow& row) {
    const std::string second = row.kind == PanelRow::Kind::status ? row.detail.value_or("") : row.value;
    return second.empty() ? row.title : row.title + ", " + second;
}

std::string storageAccessibleValue(const PanelRow& row) {
    std::string text = row.value;
    if (row.fill) {
        // lround rounds halves away from zero.
        const std::string percent = std::to_string(std::lround(*row.fill * 100)) + " percent full";
        text = text.empty() ? percent : text + ", " + percent;
    }
    return text;
}

}  // namespace keldwick
