#pragma once
// The drive manifest: an append-only JSON Lines log in the drive's app folder of the items
// moved to the drive, brought back or deleted from it. The journal on the machine is the
// primary record; start-up recovery reads this log to learn what this machine has on the
// drive.
//
// The drive is untrusted. The manifest and its folder are opened without following links
// and the manifest must be a regular file of bounded size; entries whose paths could
// reach outside the drive's app folder (or that name no absolute original) are skipped as
// unreadable, like torn lines.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

// The manifest can't be used: what stands at its place is not a regular file, it is too
// large, or an entry can't be written as JSON.
class DriveManifestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DriveManifest {
    struct Entry {
        enum class Event { offloaded, restored, discarded };

        int64_t version = 1;
        std::optional<std::string> machine;  // the writing machine's id ("mac" in the line); absent: any
        Event event = Event::offloaded;
        std::string originalPath;        // absolute path on the machine
        std::string relativePath;        // path on the drive, relative to the drive root
        bool isDirectory = false;
        int64_t size = 0;
        std::optional<std::string> checksum;
        std::optional<std::vector<TreeEntry>> entries;
        Date date;

        bool operator==(const Entry&) const = default;
    };

    // `appFolder`: the drive's app folder (the drive layout knows which one it is).
    explicit DriveManifest(std::string appFolder) : appFolder(std::move(appFolder)) {}

    std::string appFolder;

    // The manifest's path: ".keldwick-manifest.jsonl" in the app folder, or the legacy
    // ".marrowfen-manifest.jsonl" when only that one exists. Resolved afresh on each call.
    std::string path() const;

    // Adds one line at the end, creating the app folder and the file (0600: it names every moved item)
    // when needed and flushing a new file or folder in its parent. A file whose last line
    // is unfinished gets a line feed first. Returns once the line is on the medium.
    // Throws POSIXFailure ("mkdir", "open", "write", "fsync") or DriveManifestError.
    void append(const Entry& entry) const;
    // The same for several entries, in order, with one write and one flush. Throws
    // DriveManifestError before writing anything when an entry can't be encoded.
    void append(const std::vector<Entry>& entries) const;

    // Every readable entry in file order; empty when there is no manifest. Lines that
    // don't decode or fail the path checks are skipped, as is a line holding a string or
    // number longer than any entry has, or a shape no entry has: memory stays
    // proportional to the entries returned, whatever the drive holds. Throws POSIXFailure ("open",
    // "read") or DriveManifestError when the file itself can't be read safely.
    std::vector<Entry> read() const;

    // For each original path, this machine's latest entry, kept when it is "offloaded";
    // sorted by original path (bytes). Entries without a machine id count as this
    // machine's unless another machine recorded the same path. Throws as read().
    std::vector<Entry> latestEntries(const std::string& machineID) const;

    // One compact JSON object without its line feed: absent optionals left out, "/" written
    // as "\/", the date as whole-second UTC ISO 8601. Throws DriveManifestError for text
    // that is not valid UTF-8.
    static std::string encode(const Entry& entry);
    // Nothing when the line is not an entry, or when its paths fail the checks.
    static std::optional<Entry> decode(std::string_view line);

private:
    // Each readable entry in file order, read one line at a time. Throws as read().
    void forEachEntry(const std::function<void(Entry)>& each) const;
};

// "offloaded", "restored", "discarded".
std::string_view toString(DriveManifest::Entry::Event event);
std::optional<DriveManifest::Entry::Event> parseDriveManifestEvent(std::string_view text);

}  // namespace keldwick
