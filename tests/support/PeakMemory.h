#pragma once
// Runs a piece of a test in a forked child and reports how far the child's peak resident
// size grew while it ran, so a test can bound the memory a reader takes for hostile input.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

namespace keldwick::test {

struct Measured {
    bool passed = false;  // `body` returned true and the child exited normally
    int64_t grownBytes = -1;
};

// The process's peak resident size in bytes (VmHWM).
inline int64_t peakResident() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return -1;
}

// `body` must not use gtest assertions: it returns whether its own checks held.
inline Measured measurePeakGrowth(const std::function<bool()>& body) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak restarts at what is resident now
        const int64_t before = peakResident();
        const bool passed = body();
        const int64_t grown = before < 0 ? -1 : peakResident() - before;
        (void)!::write(pipeEnds[1], &grown, sizeof grown);
        ::_exit(passed ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    Measured measured;
    if (child < 0 || ::read(pipeEnds[0], &measured.grownBytes, sizeof measured.grownBytes) != sizeof(int64_t))
        measured.grownBytes = -1;
    ::close(pipeEnds[0]);
    int status = 0;
    measured.passed = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0;
    return measured;
}

}  // namespace keldwick::test
