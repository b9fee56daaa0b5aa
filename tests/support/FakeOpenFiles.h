#pragma once
// An open-file checker for tests: processes "holding" the listed paths. It reports those
// that lie under the folder asked about, and remembers every folder asked about.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "foundation/OpenFileChecking.h"
#include "foundation/PathUtil.h"

namespace keldwick::test {

class FakeOpenFiles final : public OpenFileChecking {
public:
    explicit FakeOpenFiles(std::vector<OpenFileUsage> uses = {}) : uses(std::move(uses)) {}

    std::vector<OpenFileUsage> usage(const std::string& folder) const override {
        std::lock_guard guard(lock_);
        asked.push_back(folder);
        std::vector<OpenFileUsage> found;
        for (const auto& use : uses)
            if (PathUtil::isInside(use.path, folder)) found.push_back(use);
        return found;
    }

    std::vector<OpenFileUsage> uses;
    mutable std::vector<std::string> asked;  // oldest first

private:
    mutable std::mutex lock_;  // callers may ask from several threads
};

}  // namespace keldwick::test
