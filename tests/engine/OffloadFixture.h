#pragma once
// The engine world as a test fixture, for tests that move items one at a time.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "foundation/Clock.h"
#include "support/EngineWorld.h"

namespace keldwick::test {

class OffloadFixture : public ::testing::Test, public EngineWorld {
protected:
    // These tests put items straight in the home and list it whole.
    OffloadFixture() { std::filesystem::remove(home + "/Documents"); }

    // The item as a scan would have proposed it just now.
    Candidate candidateFor(const std::string& path, std::optional<WholeKind> whole = std::nullopt) const {
        return test::candidateFor(path, Clock::system()->now().adding(60), whole);
    }

    OffloadExecutor::Outcome move(const std::string& path) {
        return executor().offload(candidateFor(path), false, nullptr, nullptr);
    }
};

}  // namespace keldwick::test
