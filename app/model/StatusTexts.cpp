#include "model/StatusTexts.h"

#include <unicode/listformatter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

#include "foundation/EngineError.h"
#include "foundation/Formatting.h"
#include "foundation/PathUtil.h"
#include "foundation/Saturating.h"
#include "model/DisplayTexts.h"

namespace keldwick {

namespace {

std::vector<OffloadRecord> recordsIn(const ModelState& state, std::initializer_list<Phase> phases) {
    std::vector<OffloadRecord> found;
    for (const auto& record : state.records) {
        for (Phase phase : phases) {
            if (record.phase == phase) {
                found.push_back(record);
                break;
            }
        }
    }
    return found;
}

std::optional<std::string> joinedByLocale(const std::vector<std::string>& names, const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    // Unasked, English (the interface's language) in the user's region: "and", never "und".
    icu::Locale where =
        locale.empty() ? icu::Locale("en", icu::Locale::getDefault().getCountry()) : icu::Locale(locale.c_str());
    std::unique_ptr<icu::ListFormatter> formatter(
        icu::ListFormatter::createInstance(where, ULISTFMT_TYPE_AND, ULISTFMT_WIDTH_WIDE, status));
    if (U_FAILURE(status) || !formatter) return std::nullopt;
    std::vector<icu::UnicodeString> items;
    items.reserve(names.size());
    for (const auto& name : names) items.push_back(icu::UnicodeString::fromUTF8(name));
    icu::UnicodeString joined;
    formatter->format(items.data(), static_cast<int32_t>(items.size()), joined, status);
    if (U_FAILURE(status)) return std::nullopt;
    std::string text;
    joined.toUTF8String(text);
    return text;
}

MenuStatus status(std::string headline, std::optional<std::string> detail, int level) {
    return MenuStatus{std::move(headline), std::move(detail), level};
}

}  // namespace

bool isOnChosenDrive(const ModelState& state, const OffloadRecord& record) {
    return record.phase == Phase::offloaded && (!state.settings.drive || record.driveID == state.settings.drive->id);
}

std::vector<OffloadRecord> offloadedRecords(const ModelState& state) {
    std::vector<OffloadRecord> found;
    for (const auto& record : state.records) {
        if (isOnChosenDrive(state, record)) found.push_back(record);
    }
    return found;
}

int64_t offloadedBytes(const ModelState& state) {
    int64_t total = 0;
    for (const auto& record : state.records) {
        if (isOnChosenDrive(state, record)) total = Saturating::add(total, record.size);
    }
    return total;
}

std::vector<OffloadRecord> recordsNeedingAttention(const ModelState& state) {
    return recordsIn(state, {Phase::returned, Phase::linkMissing});
}

bool hasOffloaded(const ModelState& state) {
    return std::any_of(state.records.begin(), state.records.end(),
                       [&](const OffloadRecord& record) { return isOnChosenDrive(state, record); });
}

size_t needingAttentionCount(const ModelState& state) {
    return static_cast<size_t>(std::count_if(state.records.begin(), state.records.end(), [](const OffloadRecord& r) {
        return r.phase == Phase::returned || r.phase == Phase::linkMissing;
    }));
}

std::string offloadedCountText(const ModelState& state) {
    int64_t files = 0, folders = 0;
    for (const auto& record : state.records) {
        if (!isOnChosenDrive(state, record)) continue;
        ++(record.isDirectory ? folders : files);
    }
    return fileFolderCountText(files, folders);
}

bool canOffload(const ModelState& state) {
    return !state.journalProblem.has_value();
}

std::string driveDisplayName(const ModelState& state) {
    if (state.settings.drive) return state.settings.drive->name;
    if (state.driveVolume) return state.driveVolume->name;
    return "your drive";
}

std::string managedFolderNames(const ModelState& state, const std::string& locale) {
    std::vector<std::string> names;
    for (const auto& folder : state.settings.managedFolders) names.push_back(PathUtil::name(folder));
    if (auto joined = joinedByLocale(names, locale)) return *joined;
    // ICU always has its root locale's list pattern; this only guards a broken install.
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string minimumAgeText(const ModelState& state) {
    const int64_t days = state.settings.minimumAgeDays;
    if (days == 30) return "a month";
    if (days == 7) return "a week";
    if (days % 7 == 0) return std::to_string(days / 7) + " weeks";
    return std::to_string(days) + " days";
}

std::optional<std::string> progressText(const ModelState& state) {
    if (!state.progress) return std::nullopt;
    const EngineProgress& progress = *state.progress;
    if (progress.itemCount >= 2) {
        return std::to_string(Saturating::add(progress.itemIndex, 1)) + " of " + std::to_string(progress.itemCount) +
               ": " + progress.itemName;
    }
    return progress.itemName;
}

MenuStatus settingsSetAsideStatus() {
    return status("Keldwick's settings were damaged",
                  "They were set aside as settings.json.corrupt, so set up Keldwick again. The files it moved are "
                  "still listed and safe.",
                  2);
}

MenuStatus preferencesSetAsideStatus() {
    return status("Keldwick set aside a damaged file",
                  "Keldwick.conf in ~/.config/Keldwick couldn't be read, so it was renamed Keldwick.conf.corrupt and "
                  "the update choices are back to their defaults. Your settings and the files Keldwick moved are "
                  "unchanged.",
                  2);
}

MenuStatus alreadyRunningAlert(bool hasTray) {
    // Without a tray there is nothing to look for, and a launch that got no answer can't
    // have shown the panel either.
    return status("Keldwick is already running",
                  hasTray ? "Look for its icon in the system tray."
                          : "It's running in another session, or it isn't answering.",
                  2);
}

namespace {

MenuStatus refusedDriveStatus(const std::vector<DriveRefusal>& refusals, const std::string& name) {
    const DriveRefusal& first = refusals.front();
    if (first.kind == DriveRefusal::Kind::duplicate) {
        return status("Two volumes claim to be " + name,
                      first.mountPath + " and " + first.detail +
                          " hold the same drive marker, so Keldwick uses neither. Unplug the one that isn't " + name +
                          ".",
                      2);
    }
    std::string detail = "It holds the marker of " + name + ". " + first.explanation();
    if (refusals.size() > 1) detail += " Other volumes hold it too.";
    return status("Keldwick won't use the volume at " + first.mountPath, detail, 2);
}

}  // namespace

std::optional<std::string> refusedDriveText(const ModelState& state) {
    if (state.driveRefusals.empty()) return std::nullopt;
    const DriveRefusal& first = state.driveRefusals.front();
    return "Keldwick won't use the volume at " + first.mountPath + ". " + first.explanation();
}

std::string driveMessage(const ModelState& state, const std::string& message) {
    if (message != EngineError::driveUnavailable().message()) return message;
    return refusedDriveText(state).value_or(message);
}

MenuStatus statusText(const ModelState& state) {
    const AppSettings& settings = state.settings;
    const std::string name = driveDisplayName(state);

    if (!settings.onboardingComplete) {
        if (state.settingsSetAside) return settingsSetAsideStatus();
        return status("Finish setting up Keldwick", "It only takes a minute.", 2);
    }
    if (state.journalProblem) {
        return status("Keldwick can't open its records",
                      "Quit Keldwick and open it again. Files on your drive are safe.", 2);
    }
    switch (state.activity) {
        case Activity::moving:
            if (settings.dryRunMode) return status("Test run\u2026", progressText(state), 1);
            return status("Moving files to " + name + "\u2026", progressText(state), 1);
        case Activity::restoring: return status("Bringing files back to your computer\u2026", progressText(state), 1);
        case Activity::recovering: return status("Checking your files\u2026", std::nullopt, 1);
        case Activity::scanning: return status("Looking for files you haven't used\u2026", std::nullopt, 1);
        case Activity::clearing: return status("Clearing caches\u2026", std::nullopt, 1);
        case Activity::idle: break;
    }
    if (state.wakeState == DriveWakeState::waking) {
        return status("Waking up " + name + "\u2026", "Hard drives take a few seconds to start.", 1);
    }
    if (settings.drive && !state.driveRefusals.empty()) return refusedDriveStatus(state.driveRefusals, name);
    if (settings.drive && !state.driveRoot) {
        if (state.driveMounting && state.driveMounting->stuck) {
            return status("This computer hasn't opened " + name,
                          "It's plugged in, but it wasn't opened automatically or opening it failed. Click it in "
                          "the file manager, or select it in the Disks utility and click Mount.",
                          2);
        }
        if (state.driveMounting) {
            return status("Getting " + name + " ready\u2026",
                          "It's plugged in but not opened yet. Hard drives can take a minute; to open it now, click "
                          "it in the file manager.",
                          1);
        }
        if (!hasOffloaded(state)) {
            return status(name + " isn't plugged in",
                          "Plug it in so Keldwick can free up space when your computer needs it.", 2);
        }
        return status(name + " isn't plugged in",
                      offloadedCountText(state) + " on it won't open until you plug it back in.", 2);
    }
    if (!state.canReadHome) {
        return status("Keldwick needs your permission", "The system is keeping it from reaching your files.", 2);
    }
    if (settings.isPaused) return status("Paused", "Keldwick won't move anything on its own.", 2);
    if (!settings.drive) return status("Choose a drive for Keldwick.", std::nullopt, 2);
    if (settings.managedFolders.empty()) {
        return status("Choose folders for Keldwick", "Add at least one in Settings so it can free up space.", 2);
    }
    if (state.computerFreeBytes && settings.isBelowKeepFree(*state.computerFreeBytes)) {
        const std::string free = byteCountText(*state.computerFreeBytes) + " free.";
        const std::optional<Stall> stall = state.stall ? std::optional(state.stall->kind) : std::nullopt;
        const std::string filling = "Your computer is filling up";
        if (stall == Stall::driveFull) {
            return status(name + " is full", free + " Keldwick can't move more files until there's room on it.", 2);
        }
        if (state.preview && state.preview->kind == PreviewKind::firstAutomatic) {
            return status(filling, free + " Keldwick is waiting for your OK in the Free Up Space window.", 2);
        }
        if (stall == Stall::testRun) {
            return status(filling, free + " Test mode is on, so Keldwick only noted what it would move.", 2);
        }
        if (stall == Stall::nothingToMove) {
            return status(filling, free + " Keldwick has already moved everything it can.", 2);
        }
        // Promise only what a check will do: one running now moves files; a scheduled one
        // looks again.
        if (settings.automaticRunsApproved && state.isChecking) {
            return status(filling, free + " Keldwick will free up space in a moment.", 2);
        }
        if (settings.automaticRunsApproved && state.nextCheck) {
            return status(filling, free + " Keldwick will look for files to move at its next check.", 2);
        }
        return status(filling, free + " Keldwick can free up space by moving old files to " + name + ".", 2);
    }
    return status("Plenty of room", "Keldwick is keeping an eye on your computer.", 0);
}

FillLevel computerFillLevel(const ModelState& state) {
    FillLevel level = storageFill(state.computerFreeBytes, state.computerTotalBytes);
    if (state.settings.onboardingComplete && state.computerFreeBytes && state.computerTotalBytes && *state.computerTotalBytes >= 1)
        level.mark = state.settings.keepFreeMark(*state.computerTotalBytes);
    return level;
}

std::optional<double> driveFillFraction(const ModelState& state) {
    if (!state.driveVolume) return std::nullopt;
    return storageFill(state.driveVolume->availableBytes, state.driveVolume->totalBytes).fill;
}

TrayGlyph::Mark trayMark(const ModelState& state) {
    if (state.settings.onboardingComplete) {
        if (state.settings.drive && !state.driveRoot && hasOffloaded(state)) {
            return TrayGlyph::Mark::driveAway();
        }
        const FillLevel level = computerFillLevel(state);
        if (level.mark && level.fill > *level.mark) return TrayGlyph::Mark::overflow();
    }
    if (statusText(state).level == 2) return TrayGlyph::Mark::attention();
    return TrayGlyph::Mark::none();
}

}  // namespace keldwick
