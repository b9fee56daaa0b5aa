#pragma once
// A scan rule says, in one short sentence the user sees, why an item must not move.
// The first rule of a list that gives a reason wins; no reason from any rule means
// the rules allow the item. Rules are immutable and safe to share between threads.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// Whether an lstat of the path succeeds; any failure counts as absent. Answered from a
// FolderListingHint of the path's folder when one is in place.
bool pathExists(const std::string& path);

// The names in the folder; a folder that can't be listed has none. Sorted by bytes as
// listDirectory gives them, but in the walk's order when answered from a
// FolderListingHint of the folder.
std::vector<std::string> folderNames(const std::string& folder);

// While alive, pathExists and folderNames answer for `folder` from `names` on this
// thread instead of asking the file system again. A walk that has just listed a folder
// installs one, so the rules' many probes of that folder cost nothing. Only for a folder
// whose entries can be looked up (searchable) and whose lookups compare names byte for
// byte, so the answers equal an lstat's.
class FolderListingHint {
public:
    // `byName` holds the positions of `names` in byte order (nameOrder); names may come in
    // any order, as a walk reads them.
    FolderListingHint(const std::string& folder, const std::vector<std::string>& names,
                      const std::vector<uint32_t>& byName);
    ~FolderListingHint();
    FolderListingHint(const FolderListingHint&) = delete;
    FolderListingHint& operator=(const FolderListingHint&) = delete;

    // The hint in place for `folder` on this thread, or null.
    static const FolderListingHint* find(std::string_view folder);
    bool contains(std::string_view name) const;
    const std::vector<std::string>& names() const { return names_; }

private:
    const std::string& folder_;
    const std::vector<std::string>& names_;
    const std::vector<uint32_t>& byName_;
    const FolderListingHint* previous_;
};

// The positions of `names`, ordered by the names' bytes.
std::vector<uint32_t> nameOrder(const std::vector<std::string>& names);

// reason + " (inside “" + name of folder + "”)".
std::string insideNote(const std::string& reason, const std::string& folder);

}  // namespace keldwick
