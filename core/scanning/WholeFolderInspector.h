#pragma once
// Judges a folder that would move as one piece (a project, an emulator device, a
// folder picked by hand): walks all of it once and says whether it can move, whether
// it was used too recently, or how much it weighs. Never throws: unreadable entries
// are passed over and folders that can't be listed count as empty.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "foundation/Date.h"
#include "scanning/Candidate.h"

namespace keldwick {

struct WholeFolderInspector {
    // Last-used dates from the recent-use index, by full path.
    std::unordered_map<std::string, Date> lastUsedDates;
    // A use after this date makes the folder too recent; the walk stops there.
    std::optional<Date> stopIfUsedAfter;
    // A further last-use date the caller knows of the folder.
    std::optional<Date> alsoUsed;
    // The device every entry must be on; nothing: the folder's own.
    std::optional<uint64_t> device;
    // Whether the drive can hold symbolic links.
    bool keepsSymlinks = true;

    // The lastUsed of a folder that offers no date: the year 1, finite so that scores
    // stay numbers.
    static constexpr Date distantPast{-62'135'769'600.0};

    struct Summary {
        int64_t size = 0;       // bytes freed here, each extent its files share with each other once
        int64_t keptElsewhere = 0;  // bytes of its files another copy or a snapshot keeps (shared extents)
        int64_t driveSize = 0;  // bytes written to the drive
        int64_t fileCount = 0;
        Date lastUsed = distantPast;
        LastUsedSource source = LastUsedSource::modificationDate;

        bool operator==(const Summary&) const = default;
    };

    struct Result {
        enum class Kind { blocked, movable, usedRecently };
        Kind kind = Kind::usedRecently;
        std::string reason;  // blocked only: shown to the user
        Summary summary;     // movable only

        static Result blocked(std::string reason) { return {Kind::blocked, std::move(reason), {}}; }
        static Result movable(Summary summary) { return {Kind::movable, {}, summary}; }
        static Result usedRecently() { return {Kind::usedRecently, {}, {}}; }

        bool operator==(const Result&) const = default;
    };

    // Entries are judged in listing order, the first refusal stopping everything:
    // another owner, locked, another device, a special file, a link the drive can't
    // hold or that points outside the folder or to another drive, a cloud placeholder,
    // a name that can't be recorded. Subfolders come after a folder's own entries,
    // rebuildable ones and ".git" last. Hard-linked files must have every link inside.
    Result inspect(const std::string& folder) const;

    // The reason a link's target gives, or nothing when the link may move with the
    // folder. `relative` is the link's path inside the folder.
    static std::optional<std::string> linkReason(const std::string& target, const std::string& relative);
};

}  // namespace keldwick
