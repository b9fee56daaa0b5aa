#pragma once
// A scan rule says, in one short sentence the user sees, why an item must not move.
// The first rule of a list that gives a reason wins; no reason from any rule means
// the rules allow the item. Rules are immutable and safe to share between threads.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/FileStat.h"
#include "scanning/WholeKind.h"

namespace keldwick {

class ScanRule {
public:
    virtual ~ScanRule() = default;

    // Reason to skip the item itself. `isPackage`: the folder counts as one document.
    virtual std::optional<std::string> skipReason(const std::string& path, const FileStat& stat,
                                                  bool isPackage) const = 0;

    // Reason that comes from a folder above the item. Default: none.
    virtual std::optional<std::string> skipReasonForAncestorsOf(const std::string& path) const;

    // Reason to refuse a folder that would move as one piece. Default: nothing when the
    // folder's status can't be read; else the ancestors' reason, else the item reason
    // (as a plain folder).
    virtual std::optional<std::string> skipReasonWhole(const std::string& folder, WholeKind kind) const;

    // True when the folder must not be split into parts. Default: false.
    virtual bool keepsTogether(const std::string& path) const;
};

using RuleList = std::vector<std::shared_ptr<const ScanRule>>;

// The folders above `path`, nearest first, stopping before "/" and at "" (a relative
// path ends with its first component; a bare name has none).
std::vector<std::string> ancestors(const std::string& path);

// Whether an lstat of the path succeeds; any failure counts as absent.
bool pathExists(const std::string& path);

// reason + " (inside “" + name of folder + "”)".
std::string insideNote(const std::string& reason, const std::string& folder);

}  // namespace keldwick
