#pragma once
// The POSIX-level file operations the engine, the scanner, the cache cleaner and the
// drive code share. None keeps state; all are synchronous.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Date.h"

namespace keldwick {

// The kinds of the program's temporary names beside an item.
enum class TemporaryKind { partial, link, trash, restore };

// "partial", "link", "trash", "restore".
const char* toString(TemporaryKind kind);

// The names in the folder, "." and ".." left out, sorted by bytes (case-sensitive, so
// "B" before "a"). Throws POSIXFailure "opendir" when the folder can't be opened and
// "readdir" when reading it fails part-way: a listing is never silently partial.
std::vector<std::string> listDirectory(const std::string& folder);
// The same for a folder already open as `fd` (which stays open), for walks that go by
// descriptor so that a folder swapped for a link can't redirect them.
std::vector<std::string> listDirectoryAt(int fd, const std::string& folderForErrors);

// Appends the relative path of every entry beneath root (root itself excluded), depth
// first, a folder before its contents, each folder in listDirectory order. `relative`
// is where to start ("" for root itself). Never follows symbolic links. Never throws: a
// folder that can't be listed counts as empty, an entry whose status can't be read is
// listed but not descended into. Not for walks that precede a deletion.
void collectRelativePaths(const std::string& relative, const std::string& root, std::vector<std::string>& into);

// The first of the candidates (`folder` itself for an empty name, else folder joined with
// the name) that lstat finds, of any kind; the first candidate when none exists. `names`
// must not be empty.
std::string firstExistingPath(const std::vector<std::string>& names, const std::string& folder);

// Creates the folder and every missing parent (mode 0777 less the umask). An existing
// folder, or a link to one, is success. Throws POSIXFailure "mkdir".
void createDirectory(const std::string& path);
// createDirectory(), then every folder it made and the one it made the first of them in
// flushed, so that the new folders outlast a power cut. Nothing is flushed when the
// folder was there. Throws POSIXFailure ("mkdir", "open", "fsync").
void createDirectoryDurably(const std::string& path);

// The whole target of a symbolic link, however long; nothing when the item is not a
// link or can't be read.
std::optional<std::string> readLink(const std::string& path);

// The longest prefix of whole characters (grapheme clusters) of at most `limit` bytes.
std::string truncatedToUTF8Bytes(std::string_view text, size_t limit);

// The temporary path beside `path`: "." + its name cut to 180 bytes + ".keldwick-" +
// kind + "-" + id, in the same folder. "/x/name", trash, 7 gives "/x/.name.keldwick-trash-7".
std::string temporaryPath(const std::string& path, TemporaryKind kind, int64_t id);

// True for a name (not a path) that starts with "." and contains ".keldwick-" followed
// by one of the kind words and "-". Case-sensitive.
bool isTemporaryName(std::string_view name);

// Clears the item's lock bits (0x60000) and returns those that were set; 0 when none
// were, or when the item is missing or unreadable. Failures to clear are ignored.
uint32_t clearLockFlags(const std::string& path);
// Sets the given lock bits again (after clearLockFlags). Never fails.
void restoreLockFlags(const std::string& path, uint32_t bits);

// unlink(2); an item already gone is success. Throws POSIXFailure "unlink".
void removeFile(const std::string& path);

// rename(2). Throws POSIXFailure "rename" with "from → to".
void renameItem(const std::string& from, const std::string& to);

// A rename that never replaces an existing item. Where the file system can't rename
// exclusively, an existing target gives EEXIST and otherwise a plain rename follows
// (that fallback is not atomic). Throws POSIXFailure "rename" with "from → to".
void renameExclusive(const std::string& from, const std::string& to);

// Exchanges the two items atomically. False, changing nothing, when the file system
// can't exchange. Throws POSIXFailure "swap" with "first ⇄ second" for other failures.
bool swapItems(const std::string& first, const std::string& second);

// Removes folder, then each parent in turn, while they are empty and inside top; top
// itself is never removed. Stops quietly at the first folder that can't be removed.
void removeEmptyParents(const std::string& folder, const std::string& top);

// A date as seconds (floored) and nanoseconds (0...999,999,999): -1.5 gives (-2, 500000000).
// Dates that aren't finite give (0, 0); dates beyond the 64-bit range are clamped.
// Spell it keldwick::timespec where struct timespec is also visible.
Timespec timespec(Date date);

}  // namespace keldwick
