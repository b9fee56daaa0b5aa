#pragma once
// Exclusive rename and atomic exchange through renameat2(2), with a process-wide seam
// that lets tests act out a file system that supports neither.

#include <cstdint>

namespace keldwick::platform {

struct RenameSupport {
    bool exclusive = true;  // RENAME_NOREPLACE
    bool exchange = true;   // RENAME_EXCHANGE
};

// What the calls below pretend the file system supports. When a capability is turned
// off, the call fails with EINVAL without touching anything, as exfat or a FUSE file
// system would. For tests; the default is the real behaviour.
void setRenameSupport(RenameSupport support);
RenameSupport renameSupport();

// Sets the support for the lifetime of the object and restores the previous one.
class ScopedRenameSupport {
public:
    explicit ScopedRenameSupport(RenameSupport support) : previous_(renameSupport()) { setRenameSupport(support); }
    ~ScopedRenameSupport() { setRenameSupport(previous_); }
    ScopedRenameSupport(const ScopedRenameSupport&) = delete;
    ScopedRenameSupport& operator=(const ScopedRenameSupport&) = delete;

private:
    RenameSupport previous_;
};

// rename without replacing an existing target. Returns 0 or errno.
int renameNoReplace(const char* from, const char* to);
// Atomically exchanges two existing items. Returns 0 or errno.
int renameExchange(const char* first, const char* second);

// EINVAL, EOPNOTSUPP (ENOTSUP) and ENOSYS: the file system can't do this kind of rename.
bool isUnsupportedRename(int error);

}  // namespace keldwick::platform
