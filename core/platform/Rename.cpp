#include "platform/Rename.h"

#include <fcntl.h>
#include <stdio.h>

#include <atomic>
#include <cerrno>

#include "platform/FileIO.h"

namespace keldwick::platform {

namespace {
std::atomic<bool> exclusiveSupported{true};
std::atomic<bool> exchangeSupported{true};

int renameWithFlags(const char* from, const char* to, unsigned flags) {
    if (calls().renameAt(AT_FDCWD, from, AT_FDCWD, to, flags) == 0) return 0;
    return errno;
}
}  // namespace

void setRenameSupport(RenameSupport support) {
    exclusiveSupported = support.exclusive;
    exchangeSupported = support.exchange;
}

RenameSupport renameSupport() { return RenameSupport{exclusiveSupported, exchangeSupported}; }

int renameNoReplace(const char* from, const char* to) {
    if (!exclusiveSupported) return EINVAL;
    return renameWithFlags(from, to, RENAME_NOREPLACE);
}

int renameExchange(const char* first, const char* second) {
    if (!exchangeSupported) return EINVAL;
    return renameWithFlags(first, second, RENAME_EXCHANGE);
}

bool isUnsupportedRename(int error) { return error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS; }

}  // namespace keldwick::platform
