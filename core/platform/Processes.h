#pragma once
// Running another program.

#include <string>
#include <vector>

namespace keldwick::platform {

// Runs `program` (a full path) with `arguments` (the first being its name) and only the
// `environment` given ("NAME=value"), its input and output on /dev/null, and waits for it.
// True when it ran and exited with status 0.
bool runQuietly(const std::string& program, std::vector<std::string> arguments,
                std::vector<std::string> environment);

}  // namespace keldwick::platform
