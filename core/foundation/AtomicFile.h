#pragma once
// Whole-file writes that either land completely or not at all.

#include <string>
#include <string_view>

#include "platform/FileIO.h"
#include "platform/Types.h"

namespace keldwick::AtomicFile {

// Writes the bytes to a fresh temporary file beside `path` (O_EXCL|O_NOFOLLOW), fsyncs it,
// renames it over `path` and fsyncs the folder. Throws POSIXFailure ("create", "write",
// "fsync", "rename") and leaves any earlier file at `path` untouched on failure.
void write(const std::string& path, std::string_view bytes, mode_t mode = 0644);

// Reads a regular file whole without following a final link. Throws POSIXFailure
// ("open", "read") on failure, and with EFBIG when the file is larger than maxBytes.
std::string read(const std::string& path, size_t maxBytes = 64u << 20);
// As read(), from a file already opened for reading (`path` names it in failures).
std::string readOpen(const platform::Fd& file, const std::string& path, size_t maxBytes = 64u << 20);

}  // namespace keldwick::AtomicFile
