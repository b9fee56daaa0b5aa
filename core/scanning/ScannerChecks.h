#pragma once
// The small checks around a scan: the clean-up of the managed folders and of the
// candidate list, and the re-check the engine runs on an item just before it moves it,
// so that an item that became protected since the scan stays.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileStat.h"
#include "scanning/Candidate.h"
#include "scanning/ScanRule.h"
#include "scanning/WholeKind.h"

namespace keldwick {

// The managed folders as the walk takes them: each resolved (realpath; one that doesn't
// resolve is dropped), repeats dropped, and every folder that lies strictly inside
// another of the list dropped, so each tree is walked once from its outermost folder.
// Order is kept.
std::vector<std::string> canonicalRoots(const std::vector<std::string>& roots);

// The candidates with every repeated path left out: the first occurrence wins and the
// order stays.
std::vector<Candidate> uniqueByPath(std::vector<Candidate> candidates);

// Visits every entry beneath the folder at `path` (a package, moved whole), the folder
// itself left out, depth first and in collectRelativePaths order, with its path relative
// to `path`, its full path and its status; an entry whose status can't be read is passed
// over. Stops when `visit` gives false.
using InsideVisitor = std::function<bool(const std::string& relative, const std::string& full, const FileStat& entry)>;
void forEachEntryInside(const std::string& path, const InsideVisitor& visit);

// Why the item must not move now, or nothing (go ahead). With a whole kind only the
// rules' whole-item reasons count and the folder is not looked into. Without one, the
// rules' reasons for the item's folders and the item itself, then, for a folder, their
// item reasons for everything inside it: reason + " (“" + relative path + "”)". An item
// that isn't there gives nothing (the mover deals with that). Never throws.
std::optional<std::string> recheckItem(const std::string& path, const RuleList& rules,
                                       std::optional<WholeKind> whole);

}  // namespace keldwick
