#pragma once
// Last-used dates of items under the managed folders, gathered once before a scan.
//
// Linux has no system-wide metadata index; the closest record of real use (an app
// opening a file) is the freedesktop recently-used bookmark file that GTK and KDE
// applications write. A missing, unreadable or damaged file gives no dates, and the
// scanner falls back to the items' own file dates.

#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/Date.h"

namespace keldwick::RecentlyUsed {

// The bookmark files read for this user: $XDG_DATA_HOME/recently-used.xbel (default
// ~/.local/share/recently-used.xbel) and the legacy ~/.recently-used.xbel.
std::vector<std::string> defaultSources();

// Path -> last-used date for every bookmarked item at or inside one of `roots`.
// Nothing is read when `roots` is empty. Never throws.
std::unordered_map<std::string, Date> lastUsedDates(const std::vector<std::string>& roots);

// The same, from the given bookmark files (read in order; where two files name the
// same path, the later date is kept).
std::unordered_map<std::string, Date> lastUsedDates(const std::vector<std::string>& roots,
                                                    const std::vector<std::string>& sources);

// Parses one bookmark document: file paths (percent-decoded, not canonicalised) with the
// latest of each bookmark's "modified" and "visited" stamps and its applications'
// "modified" stamps. Entries that are not local files or carry no valid stamp are left
// out; a document that is not well-formed gives nothing at all.
std::unordered_map<std::string, Date> parseBookmarks(const std::string& document);

}  // namespace keldwick::RecentlyUsed
