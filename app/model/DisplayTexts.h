#pragma once
// Texts every window and notice uses for counts, sizes and folders, and the type an item
// is shown with. Byte counts themselves are byteCountText (foundation/Formatting.h).
// Plain functions without state; safe from any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/OffloadRecord.h"
#include "foundation/ContentType.h"

namespace keldwick {

// "1 file", "3 files", "1 folder", "2 folders", joined by " and " when both are there;
// only the files when there are no folders (so "0 files" for nothing), only the folders
// when there are no files. Counts use the C library locale's digit grouping.
std::string fileFolderCountText(int64_t files, int64_t folders);

// fileFolderCountText of the records of files and of folders.
std::string recordCountText(const std::vector<OffloadRecord>& records);

// Gigabytes of 1,000,000,000 bytes: below 10 with one decimal ("9.9 GB"), otherwise
// rounded to a whole number, halves away from zero ("11 GB"). The separator is a point
// whatever the locale.
std::string gigabytesText(int64_t bytes);

// "Home folder" for the home itself, "Android emulators" for the emulator's devices
// folder, the components below the home joined by " › " for a folder inside it
// ("Documents › Work"), else the path unchanged.
std::string folderDisplayName(const std::string& path, const std::string& home);

// "Keldwick leaves this folder alone: <problem>.": why a folder isn't searched.
std::string folderProblemText(const std::string& problem);

// The type an item is shown with, from its name's extension (any case): for a folder, the
// package type declared for the extension, else the folder type; for a file, the data
// type declared for the extension, else plain data.
ContentType contentTypeForPath(const std::string& name, bool isFolder);

}  // namespace keldwick
