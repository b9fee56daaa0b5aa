#pragma once
// Keeps AppSettings in one JSON file, "settings.json" in the support folder.

#include <string>

#include "scanning/AppSettings.h"

namespace keldwick {

struct SettingsStore {
    std::string path;  // full path of the settings file

    // Never fails. A missing file is a first start: defaults. A file that exists but can't
    // be read or decoded (anything but a regular file or a link to one, or larger than
    // 1 MB: never opened, so nothing blocks) is moved aside to path + ".corrupt" (the
    // entry itself, never a link's target; replacing an older one) and
    // defaults are returned, so the user's file survives the next save. A decoded file is
    // normalised. `setAside`, when given, tells whether the file was moved aside now (the
    // program says so: the user's choices are gone, the moved files are not).
    AppSettings load(bool* setAside = nullptr) const;

    // Creates the folder that holds the file, then writes the settings pretty-printed with
    // sorted keys, atomically. Does not normalise. Before replacing a file that can't be
    // read or decoded, moves it aside as load() does; when that fails the save is refused,
    // so a damaged file is never silently overwritten. Throws POSIXFailure for file-system
    // failures and std::runtime_error when the settings can't be encoded.
    void save(const AppSettings& settings) const;

private:
    enum class FileState { missing, moved, readable, stuck };
    // Reads the file; moves it aside when it exists but can't be read or decoded.
    FileState inspect(AppSettings* decoded) const;
};

}  // namespace keldwick
