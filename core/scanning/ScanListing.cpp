// Reading a folder's names for the walk, and answering lookups of them from the listing.

#include "scanning/ScanWalk.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "foundation/ItemChecks.h"

namespace keldwick::ScanWalk {

// databaseCompanion answered from the listing of the file's folder when the walk holds
// one (the companions are its siblings), else from the file system.
std::optional<std::string> companionOf(const std::string& path) {
    static constexpr std::string_view suffixes[] = {"-wal", "-shm", "-journal"};
    const auto slash = path.rfind('/');
    const FolderListingHint* hint =
        slash == std::string::npos || slash == 0 ? nullptr : FolderListingHint::find(std::string_view(path).substr(0, slash));
    const std::string_view name = std::string_view(path).substr(slash + 1);
    // A name that is just a suffix has the folder itself as its shorter form.
    if (!hint || name.empty() || std::find(std::begin(suffixes), std::end(suffixes), name) != std::end(suffixes)) {
        return databaseCompanion(path);
    }
    for (const std::string_view suffix : suffixes) {
        // A companion path too long to name fails lstat, so it isn't one.
        if (path.size() + suffix.size() < PATH_MAX && hint->contains(std::string(name) + std::string(suffix))) {
            return path + std::string(suffix);
        }
        if (name.size() > suffix.size() && name.ends_with(suffix) && hint->contains(name.substr(0, name.size() - suffix.size()))) {
            return path.substr(0, path.size() - suffix.size());
        }
    }
    return std::nullopt;
}

void Walk::list(const Volume& volume, const Folder* parent, const std::string& path, const std::string& name,
                int depth, Listing& listing, std::vector<bool>& maybeFolder) const {
    listing.folder = parent && parent->fd >= 0 ? platform::openDirectory(parent->fd, name, O_NOFOLLOW)
                                               : platform::openDirectory(AT_FDCWD, path, O_NOFOLLOW);
    if (!listing.folder) return;
    listing.listed = platform::readNamesAndKinds(listing.fd(), listing.names, maybeFolder);
    if (!listing.listed) {
        listing.names.clear();
        maybeFolder.clear();
    }
    listing.byName = nameOrder(listing.names);
    listing.exactNames = listing.listed && platform::folderMatchesNamesExactly(listing.fd(), volume.nameMatching);
    if (depth >= openDepth_) listing.release();
}

bool Walk::searchable(const FileStat& stat, int fd) const {
    if (uid_ == 0) return true;
    if (stat.ownerID == uid_) return (stat.mode & S_IXUSR) != 0;
    return fd >= 0 && faccessat(fd, ".", X_OK, AT_EACCESS) == 0;
}

// The listing may stand in for lookups of the folder's names only where a lookup would
// give the same answer: the names compare byte for byte and the entries can be reached.
bool Walk::answersProbes(const Listing& listing, const FileStat& stat) const {
    return listing.listed && listing.exactNames && searchable(stat, listing.fd());
}

}  // namespace keldwick::ScanWalk
