#include "support/AsUser.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace keldwick::test {

bool canDropPrivileges() { return geteuid() == 0; }

int runAsNobody(const std::function<int()>& body) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        int status = 101;
        if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) {
            try {
                status = body();
            } catch (...) {
                status = 100;
            }
        }
        _exit(status);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void chownTree(const std::string& path, unsigned uid) {
    if (lchown(path.c_str(), uid, uid) != 0) return;
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) return;
    for (auto it = std::filesystem::recursive_directory_iterator(path, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (error) return;
        if (lchown(it->path().c_str(), uid, uid) != 0) return;
    }
}

}  // namespace keldwick::test
