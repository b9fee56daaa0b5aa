#include "files/MovedRows.h"

#include <QString>
#include <algorithm>

#include "foundation/Formatting.h"
#include "foundation/ItemName.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "model/DisplayTexts.h"
#include "model/OtherDrives.h"
#include "model/RestoreOutcome.h"
#include "model/StatusTexts.h"

namespace keldwick {
namespace {

bool containsIgnoringCase(const std::string& text, const QString& search) {
    return QString::fromUtf8(text).contains(search, Qt::CaseInsensitive);
}

std::string quotedName(const OffloadRecord& record) { return "\u201C" + ItemName::display(record.originalPath) + "\u201D"; }

bool idle(const ModelState& state) { return state.activity == Activity::idle; }

}  // namespace

std::vector<size_t> listedRows(const std::vector<OffloadRecord>& records, const std::string& search) {
    const QString wanted = QString::fromUtf8(search);
    std::vector<size_t> busy, offloaded;
    for (size_t i = 0; i < records.size(); ++i) {
        const OffloadRecord& record = records[i];
        if (!search.empty() && !containsIgnoringCase(record.originalPath, wanted) &&
            !containsIgnoringCase(ItemName::display(record.originalPath), wanted))
            continue;
        (record.phase == Phase::offloaded ? offloaded : busy).push_back(i);
    }
    busy.insert(busy.end(), offloaded.begin(), offloaded.end());
    return busy;
}

std::vector<OffloadRecord> listedRecords(const std::vector<OffloadRecord>& records, const std::string& search) {
    std::vector<OffloadRecord> listed;
    for (size_t row : listedRows(records, search)) listed.push_back(records[row]);
    return listed;
}

StatusLabel statusLabel(Phase phase, const std::string& driveName, bool driveConnected,
                        const std::optional<std::string>& refusal) {
    switch (phase) {
        case Phase::linkMissing:
            return {"warning-filled", Tint::orange, "Shortcut removed",
                    "The shortcut was deleted or moved. The file is safe on the drive."};
        case Phase::returned:
            return {"info-filled", Tint::secondary, "Extra copy on drive",
                    "Something else has this file's place on your computer. The copy Keldwick moved is still on the drive."};
        case Phase::offloaded:
            if (refusal) return {"drive-warning", Tint::orange, "Drive refused", *refusal};
            if (driveConnected)
                return {"check-filled", Tint::green, "On " + driveName, "Opens from its shortcut on your computer."};
            return {"drive-missing", Tint::orange, "Drive not plugged in",
                    "Plug in " + driveName + " to open this file."};
        case Phase::restoreCopying:
        case Phase::restoreSwapping:
        case Phase::restoreCleanup:
            return {"hourglass", Tint::orange, "Finishing up\u2026",
                    "Keldwick will finish or undo bringing this back automatically."};
        default:
            return {"hourglass", Tint::orange, "Finishing up\u2026",
                    "Keldwick will finish or undo this move automatically."};
    }
}

std::optional<Problem> problemOf(const OffloadRecord& record, const std::string& driveName) {
    switch (record.phase) {
        case Phase::offloaded:
            return std::nullopt;
        case Phase::linkMissing:
            return Problem{"warning-filled",
                           record.error.value_or("The shortcut to " + quotedName(record) +
                                                 " was deleted or moved, but the file is still safe on " + driveName +
                                                 ".")};
        case Phase::returned:
            return Problem{"info",
                           record.error.value_or("Something else has the place of " + quotedName(record) +
                                                 " on your computer now \u2014 maybe a newer version saved by an app, "
                                                 "maybe a different file. The copy Keldwick moved is still on " +
                                                 driveName + ".")};
        case Phase::restoreCopying:
        case Phase::restoreSwapping:
        case Phase::restoreCleanup:
            // A bring-back is never called a move.
            return Problem{"hourglass", "Bringing back " + quotedName(record) +
                                            " was interrupted. Keldwick will finish or undo it automatically. "
                                            "Nothing will be lost."};
        default:
            return Problem{"hourglass", "Moving " + quotedName(record) +
                                            " was interrupted. Keldwick will finish or undo it automatically. "
                                            "Nothing will be lost."};
    }
}

std::optional<OffloadRecord> problemRecord(const std::vector<OffloadRecord>& records,
                                           const std::set<int64_t>& selection) {
    auto selected = recordsWithIds(records, selection);
    if (selected.size() != 1 || selected.front().phase == Phase::offloaded) return std::nullopt;
    return selected.front();
}

std::string summaryText(const ModelState& state) {
    const std::string drive = driveDisplayName(state);
    if (!hasOffloaded(state)) return "Nothing on " + drive + " right now";
    return offloadedCountText(state) + " \u00B7 " + byteCountText(offloadedBytes(state)) + " on " + drive;
}

BottomStatus bottomStatus(const ModelState& state) {
    if (state.activity == Activity::restoring && state.progress) {
        return {BottomStatus::Kind::progress, "Bringing back " + state.progress->itemName + "\u2026",
                state.progress->itemBytesDone, std::max<int64_t>(state.progress->itemBytesTotal, 1)};
    }
    if (state.filesProblem) return {BottomStatus::Kind::problem, *state.filesProblem};
    if (!state.driveRoot && hasOffloaded(state)) {
        if (!state.driveRefusals.empty())
            return {BottomStatus::Kind::text, "Keldwick won't use the volume at " + state.driveRefusals.front().mountPath + "."};
        return {BottomStatus::Kind::text, "Plug in " + driveDisplayName(state) + " to bring files back."};
    }
    return {BottomStatus::Kind::text, summaryText(state)};
}

std::optional<std::string> driveAwayBanner(const ModelState& state) {
    if (!state.settings.drive || state.driveRoot || !hasOffloaded(state)) return std::nullopt;
    // Mounted but refused: saying it isn't plugged in would send the user looking for it.
    if (auto refused = refusedDriveText(state)) return refused;
    return driveDisplayName(state) +
           " isn't plugged in. These files won't open until you plug it back in, but you can still look "
           "through the list.";
}

std::optional<MovedEmptyState> movedEmptyState(const ModelState& state, size_t listed, const std::string& search) {
    const std::string drive = driveDisplayName(state);
    if (state.records.empty() && state.hasBroughtFilesBack)
        return MovedEmptyState{"check", "Everything is back on your computer",
                               "Files Keldwick moves to " + drive +
                                   " will show up here. To move something now, drop it here."};
    if (state.records.empty())
        return MovedEmptyState{"drive", "No files on your drive yet",
                               "When your computer gets low on space, the files Keldwick moves to " + drive +
                                   " will show up here. To move something now, drop it here.",
                               state.driveRoot.has_value() && !state.journalProblem};
    if (listed == 0 && !search.empty()) return MovedEmptyState{"search", search, "", false, true};
    return std::nullopt;
}

bool isRestorable(const OffloadRecord& record, const DriveStatusOf& driveStatus) {
    return (record.phase == Phase::offloaded || record.phase == Phase::linkMissing) && driveStatus(record).connected;
}

bool offersCopy(const OffloadRecord& record, const ExistsAt& exists) {
    return record.phase == Phase::returned || (record.phase == Phase::linkMissing && exists(record.originalPath));
}

std::vector<OffloadRecord> recordsWithIds(const std::vector<OffloadRecord>& records, const std::set<int64_t>& ids) {
    std::vector<OffloadRecord> chosen;
    for (const auto& record : records)
        if (ids.count(record.id)) chosen.push_back(record);
    return chosen;
}

std::vector<MenuEntry> movedRowMenu(const std::vector<OffloadRecord>& chosen, const ModelState& state,
                                    const DriveStatusOf& driveStatus, const ExistsAt& exists) {
    std::vector<MenuEntry> menu;
    const bool anyRestorable = std::any_of(chosen.begin(), chosen.end(),
                                           [&](const OffloadRecord& r) { return isRestorable(r, driveStatus); });
    if (std::any_of(chosen.begin(), chosen.end(), [&](const OffloadRecord& r) {
            return r.phase == Phase::offloaded && driveStatus(r).connected;
        }))
        menu.push_back({MovedAction::open, "Open", true});
    menu.push_back({MovedAction::restore, "Bring Back", anyRestorable && idle(state)});
    menu.push_back({MovedAction::keepOnComputer, "Bring Back and Always Keep on This Computer", anyRestorable && idle(state)});
    if (chosen.size() == 1 && offersCopy(chosen.front(), exists))
        menu.push_back({MovedAction::restoreCopy, "Bring Back as a Copy",
                        driveStatus(chosen.front()).connected && idle(state)});
    menu.push_back({MovedAction::divider, "", true});
    menu.push_back({MovedAction::showInFileManager, "Show in Folder", true});
    if (state.driveRoot) menu.push_back({MovedAction::showOnDrive, "Show on " + driveDisplayName(state), true});
    if (chosen.size() == 1 &&
        (chosen.front().phase == Phase::returned || chosen.front().phase == Phase::linkMissing)) {
        const DriveStatus drive = driveStatus(chosen.front());
        menu.push_back({MovedAction::divider, "", true});
        menu.push_back({MovedAction::deleteCopy,
                        (chosen.front().phase == Phase::returned ? "Delete Copy from " : "Delete from ") + drive.name +
                            "\u2026",
                        drive.connected && idle(state)});
    }
    return menu;
}

std::vector<std::string> pathsToOpen(const std::vector<OffloadRecord>& chosen, const ModelState& state) {
    std::vector<std::string> paths;
    if (!state.driveRoot) return paths;
    for (const auto& record : chosen)
        if (record.phase == Phase::offloaded) paths.push_back(record.originalPath);
    return paths;
}

std::vector<std::string> pathsToReveal(const std::vector<OffloadRecord>& chosen, const ExistsAt& exists) {
    std::vector<std::string> paths;
    for (const auto& record : chosen)
        paths.push_back(exists(record.originalPath) ? record.originalPath : PathUtil::parent(record.originalPath));
    return paths;
}

ProblemButtons problemButtons(const OffloadRecord& record, const ModelState& state, const ExistsAt& exists) {
    ProblemButtons buttons;
    if (offersCopy(record, exists)) {
        buttons.first = MovedAction::restoreCopy;
        buttons.firstTitle = "Bring Back as a Copy";
    } else if (record.phase == Phase::linkMissing) {
        buttons.first = MovedAction::restore;
        buttons.firstTitle = "Bring Back";
    }
    if (record.phase == Phase::returned || record.phase == Phase::linkMissing) {
        buttons.offersDelete = true;
        buttons.deleteTitle = record.phase == Phase::returned ? "Delete Copy\u2026" : "Delete from Drive\u2026";
    }
    buttons.enabled = chosenDriveReachable(state) && idle(state);
    return buttons;
}

BottomButtons bottomButtons(const ModelState& state, const std::set<int64_t>& selection,
                            const DriveStatusOf& driveStatus) {
    BottomButtons buttons;
    buttons.moveFilesEnabled = state.driveRoot && idle(state) && !state.journalProblem;
    int64_t counted = 0;
    bool anyFolder = false, anyRestorable = false;
    for (const auto& record : recordsWithIds(state.records, selection)) {
        if (record.phase == Phase::offloaded || record.phase == Phase::linkMissing) {
            ++counted;
            anyFolder = anyFolder || record.isDirectory;
        }
        anyRestorable = anyRestorable || isRestorable(record, driveStatus);
    }
    buttons.selectionTitle = counted < 2 ? "Bring Back"
                                         : "Bring Back " + std::to_string(counted) + (anyFolder ? " Items" : " Files");
    buttons.selectionEnabled = anyRestorable && idle(state);
    buttons.restoreAllEnabled = !recordsToBringBackAll(state).empty() && idle(state);
    return buttons;
}

Confirmation restoreAllConfirmation(const ModelState& state) {
    auto covered = recordsToBringBackAll(state);
    if (covered.empty()) covered = offloadedRecords(state);
    Confirmation c;
    c.title = covered.size() == 1 ? "Bring " + quotedName(covered.front()) + " back to your computer?"
                                  : "Bring all " + recordCountText(covered) + " back to your computer?";
    c.button = "Bring Everything Back";
    // The room the engine acts on: the free space beyond the reserve it keeps.
    if (const auto room = roomForBringingBack(state)) {
        int64_t total = 0;
        for (const auto& record : covered) total = Saturating::add(total, record.size);
        const int64_t fits = bytesThatFit(covered, *room);
        const std::string totalText = byteCountText(total), reserveText = byteCountText(computerReserveBytes());
        const std::string drives = driveNamesText(state, covered);
        if (fits == total)
            c.message = totalText + " will be copied back to this computer (it has " + byteCountText(*room) +
                        " free beyond the " + reserveText + " Keldwick keeps free on it) and removed from " + drives +
                        ". Keldwick won't move them again for at least " +
                        std::to_string(state.settings.minimumAgeDays) + " days.";
        else if (fits > 0)
            c.message = totalText + " to bring back; " + byteCountText(fits) + " fits now, keeping " + reserveText +
                        " free on this computer. The rest stays on " + drives + ".";
        else
            c.message = totalText + " to bring back; none of it fits now, keeping " + reserveText +
                        " free on this computer. It stays on " + drives + ".";
    }
    return c;
}

Confirmation deleteConfirmation(const OffloadRecord& record, const ModelState& state) {
    const std::string drive = driveDisplayName(state);
    if (record.phase == Phase::returned)
        return {"Delete the copy of " + quotedName(record) + " from " + drive + "?",
                "The file on your computer isn't affected. Not sure which one you need? Bring it back as a copy instead. "
                "This can't be undone.",
                "Delete Copy"};
    return {"Delete " + quotedName(record) + " from " + drive + "?",
            "Its shortcut on your computer was removed, so this is the only copy left. Deleting it can't be undone.",
            "Delete from Drive"};
}

}  // namespace keldwick
