// Side-by-side timing for the benchmarks: each side runs at least three times, the sides
// take turns within every round so that both see the same disk and the same load from
// other processes, and each is summed up by its median and its spread (fastest to
// slowest). The ratio is Keldwick's median time over the peer's: below 1, Keldwick is
// faster.

#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace keldwick::bench {

struct Timings {
    std::vector<double> seconds;

    double median() const {
        if (seconds.empty()) return 0;
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
    double fastest() const { return seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end()); }
    double slowest() const { return seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end()); }
};

// KELDWICK_BENCH_ROUNDS, never fewer than three.
inline int rounds() {
    const char* value = std::getenv("KELDWICK_BENCH_ROUNDS");
    const long wanted = value && *value ? std::strtol(value, nullptr, 10) : 3;
    return static_cast<int>(std::max(3L, wanted));
}

inline double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "1.23 0.98 0.75": the load averages over 1, 5 and 15 minutes.
inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// One side of a comparison. `prepare` runs before each timed run, untimed (to drop the
// pages the run must read from the medium, or to remove the previous run's copy). A run
// may leave part of itself out of its time with `untimed` (a peer's page-dropping pass
// between its copy and its verify, a check of what is cached).
struct Side {
    Side(std::string name, std::function<void()> run, std::function<void()> prepare = [] {})
        : name(std::move(name)), run(std::move(run)), prepare(std::move(prepare)) {}
    std::string name;
    std::function<void()> run;
    std::function<void()> prepare;
    Timings timings;
    double excluded = 0;  // seconds of the current run left out by `untimed`

    void untimed(const std::function<void()>& work) { excluded += secondsOf(work); }
};

// Runs every side once per round, in turn, the first side first in odd rounds and last
// in even ones, so that neither always follows the other.
inline void alternate(std::vector<Side*> sides, int count = rounds()) {
    for (int round = 0; round < count; ++round) {
        std::vector<Side*> order = sides;
        if (round % 2) std::reverse(order.begin(), order.end());
        for (Side* side : order) {
            side->prepare();
            side->excluded = 0;
            const double taken = secondsOf(side->run);
            side->timings.seconds.push_back(taken - side->excluded);
        }
    }
}

// "name  median 1.234 s (1.200-1.300, n=3)"
inline std::string describe(const Timings& t) {
    char text[96];
    std::snprintf(text, sizeof text, "median %.3f s (%.3f-%.3f, n=%zu)", t.median(), t.fastest(), t.slowest(),
                  t.seconds.size());
    return text;
}

// Prints both sides and the ratio of Keldwick's median time to the peer's.
inline void printRatio(const char* what, const Side& ours, const Side& peer) {
    const double a = ours.timings.median(), b = peer.timings.median();
    std::printf("%s\n  %-40s %s\n  %-40s %s\n  time ratio %.2fx (Keldwick / peer; below 1: Keldwick is faster); "
                "load %s\n",
                what, ours.name.c_str(), describe(ours.timings).c_str(), peer.name.c_str(),
                describe(peer.timings).c_str(), b > 0 ? a / b : 0.0, loadAverage().c_str());
    std::fflush(stdout);
}

// Writes a file's dirty pages back and drops its cached pages, so that the next reader
// goes to the medium.
inline void dropPages(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fdatasync(fd);
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// The same for every regular file beneath a folder (or the one file named).
inline void dropTreePages(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::exists(path, error)) return;
    if (fs::is_regular_file(path, error)) return dropPages(path);
    for (const auto& entry : fs::recursive_directory_iterator(path, error))
        if (entry.is_regular_file(error)) dropPages(entry.path());
}

}  // namespace keldwick::bench
