#pragma once
// The marker file in the drive's app folder that gives the drive its identity, and the
// read-me written beside it for people who open the drive without the app.
//
// Everything on the drive is untrusted: the marker is read without following a final
// link, only as a regular file of modest size, and only through an app folder that is a
// real folder.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "drives/Drive.h"
#include "foundation/Clock.h"
#include "foundation/Date.h"
#include "platform/POSIXFailure.h"

namespace keldwick::DriveMarker {

// The drive (or the user's quota on it) has no room for the folder and marker: the POSIX
// failure it is, told as the sentence the user reads.
class NoRoom : public POSIXFailure {
public:
    explicit NoRoom(const POSIXFailure& failure);
    const char* what() const noexcept override { return sentence_.c_str(); }

private:
    std::string sentence_;
};

struct Contents {
    int64_t version = 1;  // written as 1; not checked when reading
    std::string id;
    std::string name;
    Date created;

    bool operator==(const Contents&) const = default;
};

// Marker names in the order they are tried: ".keldwick-drive.json", ".marrowfen-drive.json".
const std::vector<std::string>& fileNames();

// "About This Folder.txt" and its twelve lines.
inline constexpr std::string_view kReadMeName = "About This Folder.txt";
std::string_view readMeText();

// Pretty-printed JSON with sorted keys and the date as whole-second UTC ISO 8601
// ("2025-03-01T09:30:00Z"). Invalid UTF-8 in the name is written as U+FFFD.
std::string encode(const Contents& contents);
// All four keys required ("version" an integer, "id" and "name" strings, "created" a
// whole-second ISO 8601 date with a zone); unknown keys ignored. Nothing on any fault.
std::optional<Contents> decode(std::string_view bytes);

// The drive's identity, or nothing: no app folder, no marker, a marker that is not a
// regular file or can't be read, or contents that don't decode. Never throws.
std::optional<Drive> read(const std::string& root);

// Makes the drive ours, or recognises it as ours already.
// - With a readable marker: writes the read-me when it is missing (errors ignored) and
//   returns the marker's identity unchanged; `name` is not used.
// - Otherwise: creates the app folder, writes the read-me (errors ignored), and writes a
//   new marker with a fresh id and `name` (ill-formed UTF-8 replaced by U+FFFD), under the name of the marker that was there
//   (current or legacy) or else the current name. An unreadable marker is first renamed
//   aside to "<marker name>.unreadable-<UTC date>", so its id can still be recovered.
//   The new marker's date and the aside name's are `clock`'s now.
// Throws POSIXFailure: "mkdir" when the app folder can't be created or something other
// than a folder stands in its place, "rename" when an unreadable marker can't be set
// aside, and the atomic write's failures (NoRoom when the drive or the user's quota on it
// is full); the folder and read-me made until then stay.
Drive adopt(const std::string& root, const std::string& name, const Clock& clock = *Clock::system());

}  // namespace keldwick::DriveMarker
