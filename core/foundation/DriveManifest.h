#pragma once
// The append-only log kept on the drive next to the moved items: one JSON line each time
// an item finishes moving there, comes back, or has its drive copy deleted. The journal
// is the primary record; recovery reads this one to learn what this machine has on the
// drive. The drive is removable and untrusted: the file is never followed through a
// link, must be a regular file of bounded size, and lines whose paths are not clean are
// skipped like torn ones.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Date.h"
#include "foundation/TreeManifest.h"

namespace keldwick {

struct DriveManifest {
    struct Entry {
        enum class Event { offloaded, restored, discarded };

        int64_t version = 1;
        std::optional<std::string> mac;  // the writer's machine id; absent in old entries
        Event event = Event::offloaded;
        std::string originalPath;  // absolute, on the machine
        std::string relativePath;  // below the drive root
        bool isDirectory = false;
        int64_t size = 0;
        std::optional<std::string> checksum;
        std::optional<std::vector<TreeEntry>> entries;
        Date date;  // whole seconds once written

        bool operator==(const Entry&) const = default;
    };

    // The mount path of the drive (not the program's folder on it).
    std::string root;

    // The largest manifest read; a bigger one is refused rather than loaded.
    static constexpr size_t maximumBytes = 256u << 20;

    // The file used: ".keldwick-manifest.jsonl", or ".marrowfen-manifest.jsonl" where only
    // that one exists, in the program's folder on the drive.
    std::string path() const;

    // Adds one line at the end, creating the folder and the file (0644) when needed,
    // first closing a torn last line, and flushes it. Throws POSIXFailure ("mkdir",
    // "open" (ELOOP for a link, EINVAL for anything but a regular file), "write", "fsync").
    void append(const Entry& entry) const;

    // Every readable entry in file order; nothing when there is no file. Lines that don't
    // decode, or whose paths aren't clean (an original that isn't absolute, a drive path
    // or tree path with "", "." or ".." components or a leading "/"), are skipped.
    // Throws POSIXFailure when the file can't be read (a link, a FIFO, too large).
    std::vector<Entry> read() const;

    // Per original path, the latest entry that belongs to this machine (its id, or no id
    // for a path no other machine recorded), kept when that entry is "offloaded"; sorted
    // by original path.
    std::vector<Entry> latestEntries(const std::string& machineID) const;

    // One entry as its line's JSON (no line feed): compact, optional keys left out,
    // every "/" written as "\/", the date as ISO 8601 UTC with whole seconds.
    static std::string encode(const Entry& entry);
    // Nothing for a line that isn't a complete, clean entry.
    static std::optional<Entry> decode(const std::string& line);
};

// "offloaded", "restored", "discarded".
const char* toString(DriveManifest::Entry::Event event);

}  // namespace keldwick
