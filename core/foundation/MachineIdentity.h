#pragma once
// This machine's id and the name of its folder on the drive. The id is stored on drives in
// every manifest line, so it must stay the same across runs; it is derived from
// /etc/machine-id for this app alone (the raw machine id never leaves the machine).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keldwick::MachineIdentity {

// This machine's id, computed once per process: the app-specific id derived from the
// machine id; where the system has none, a random id kept in the support folder
// ("machine-id" in $XDG_DATA_HOME/Keldwick); "unknown-mac" when neither can be had.
// An upper-case 36-character UUID text otherwise.
const std::string& current();

// The folder name under the drive's app folder, computed once per process:
// makeFolderName(computer name, current()).
const std::string& folderName();

// --- The pieces, for tests and for callers with their own sources ---

// Where the id comes from. `machineIDFiles` are tried in order.
struct Sources {
    std::vector<std::string> machineIDFiles{"/etc/machine-id", "/var/lib/dbus/machine-id"};
    std::string supportFolder;  // empty: no fallback file
};
std::string resolve(const Sources& sources);

// The app-specific id for a machine id file's text (32 hex digits, a line feed allowed):
// HMAC-SHA256 keyed with the machine id over this app's id, cut to 128 bits and marked as a
// version-4 UUID (the scheme of sd_id128_get_machine_app_specific). Nothing for text that
// is not a machine id ("uninitialized", all zeros, wrong length).
std::optional<std::string> appSpecificID(std::string_view machineIDText);

// The computer's name: PRETTY_HOSTNAME of /etc/machine-info, else the host name.
std::optional<std::string> computerName();
// The PRETTY_HOSTNAME value of a machine-info text (shell-style quoting undone).
std::optional<std::string> prettyHostname(std::string_view machineInfoText);

// "/" and then ":" become "-", blanks and line breaks are trimmed from both ends, an empty
// or missing name (or one that isn't valid UTF-8) becomes "Computer", and " (" + the first 8
// characters of the id + ")" is appended.
std::string makeFolderName(const std::optional<std::string>& computerName, std::string_view id);

}  // namespace keldwick::MachineIdentity
