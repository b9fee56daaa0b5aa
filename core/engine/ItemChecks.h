#pragma once
// Checks the scanner and the engine share, so that a scan refuses what a move would.

#include <optional>
#include <string>
#include <string_view>

#include "foundation/FileStat.h"

namespace keldwick {

// The file a database file belongs with: for "-wal", "-shm" and "-journal" in that
// order, path + suffix when that exists, else (when path ends with the suffix) the
// non-empty path without it when that exists. Nothing when none is found. Never throws.
std::optional<std::string> databaseCompanion(const std::string& path);

// Why the item can't be moved, or nothing: "Owned by another user", "Locked",
// "Cloud placeholder (not downloaded)", "App or app component" (a folder whose name's
// extension is "app", any case), "Has multiple hard links" (a regular file), checked in
// that order. `name` is the item's name or path; only its extension is used. Links and
// special files get nothing. Never throws.
std::optional<std::string> reasonNotMovable(const FileStat& status, std::string_view name);

}  // namespace keldwick
