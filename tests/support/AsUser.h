#pragma once
// Runs a piece of a test in a forked child that has dropped to an unprivileged user, so
// that permission checks apply even though the tests run as root.

#include <functional>
#include <string>

namespace keldwick::test {

constexpr unsigned kNobody = 65534;

// True when the process can change to another user (it runs as root).
bool canDropPrivileges();

// Forks; the child switches to uid/gid 65534, runs `body` and exits with its result
// (an exception exits 100). Returns the child's exit status, or -1 when it died.
// `body` must not use gtest assertions: the parent checks the returned status.
int runAsNobody(const std::function<int()>& body);

// chown -R of a tree to 65534 (for trees the child must own).
void chownTree(const std::string& path, unsigned uid = kNobody);

}  // namespace keldwick::test
