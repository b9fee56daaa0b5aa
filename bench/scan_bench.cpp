// The scanner against du(1), find(1) and gdu(1) over the same generated tree, in the same run.
//
// Builds a home-like tree under $TMPDIR for each size (200,000 and 1,000,000 entries;
// KELDWICK_SCAN_ENTRIES sets others, comma-separated), in a typical and a project-heavy
// shape, then times `du -s ROOTS`, `find ROOTS -printf '%s %T@ %A@\n'`, `gdu -npc HOME`
// and Scanner::scan on one thread and on every core (KELDWICK_SCAN_THREADS sets the
// count), each a program started afresh (this one, asked to scan), so that its CPU time
// is its own and every side is timed the same way: from launch to exit. (The peers' peak
// memory is what the kernel reports to this parent, which counts the pages the launch
// began with, about this program's own size; the scanner reports its own high-water
// mark.) The
// tools take turns within each round (KELDWICK_BENCH_ROUNDS, at least 3): cold, every
// cache of the machine dropped before each run (needs root; skipped with a line
// otherwise), then warm, after one discarded run of each. Prints the median wall and CPU
// seconds and the spread of the wall times, the ratios of the scanner's times to du's
// (one thread), find's and gdu's (below 1: the scanner is faster), the load average
// while it ran (the machine may be shared), and the
// scanner's peak memory per entry beyond what its report holds: the growth of the
// resident size during the scan less the heap bytes still in use once the scan has
// returned its report (mallinfo2 over every arena, before and after).

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Clock.h"
#include "Alternation.h"
#include "foundation/Date.h"
#include "scanning/NeverTouch.h"
#include "scanning/Scanner.h"

using namespace keldwick;

extern char** environ;

namespace {

struct Tree {
    std::string home;
    std::vector<std::string> roots;  // the managed folders
    long entries = 0;                // everything beneath the roots, roots included
};

class Generator {
public:
    explicit Generator(long budget) : budget_(budget) {}

    long made() const { return made_; }
    bool full() const { return made_ >= budget_; }

    void folder(const std::string& path) {
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) fail("mkdir", path);
        ++made_;
    }
    void file(const std::string& path, bool withData) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) fail("open", path);
        if (withData && write(fd, "x", 1) != 1) fail("write", path);
        close(fd);
        ++made_;
    }

    // Folders of eight files and three subfolders, breadth first, until the budget is met.
    void typical(const std::string& top, long budget) {
        static const char* const extensions[] = {".txt", ".jpg", ".pdf", ".md", ".png", ".mp3", ".docx", ".csv"};
        const long stop = std::min(made_ + budget, budget_);
        std::deque<std::string> pending{top};
        folder(top);
        while (!pending.empty() && made_ < stop) {
            const std::string at = pending.front();
            pending.pop_front();
            for (int i = 0; i < 8 && made_ < stop; ++i) {
                file(at + "/file" + std::to_string(i) + extensions[i], i % 4 == 0);
            }
            for (int i = 0; i < 3 && made_ < stop; ++i) {
                const std::string sub = at + "/folder " + std::to_string(i);
                folder(sub);
                pending.push_back(sub);
            }
        }
    }

    // A code project of about 300 entries: sources, dependencies and a Git folder.
    void project(const std::string& at) {
        folder(at);
        file(at + "/package.json", true);
        file(at + "/README.md", true);
        for (int s = 0; s < 3; ++s) {
            const std::string src = at + "/src/part" + std::to_string(s);
            if (s == 0) folder(at + "/src");
            folder(src);
            for (int i = 0; i < 10; ++i) file(src + "/module" + std::to_string(i) + ".js", true);
        }
        folder(at + "/node_modules");
        for (int p = 0; p < 20; ++p) {
            const std::string package = at + "/node_modules/package" + std::to_string(p);
            folder(package);
            file(package + "/package.json", true);
            file(package + "/index.js", true);
            folder(package + "/lib");
            for (int i = 0; i < 8; ++i) file(package + "/lib/part" + std::to_string(i) + ".js", false);
        }
        folder(at + "/.git");
        file(at + "/.git/HEAD", true);
        for (int o = 0; o < 4; ++o) {
            const std::string objects = at + "/.git/objects" + std::to_string(o);
            folder(objects);
            for (int i = 0; i < 10; ++i) file(objects + "/object" + std::to_string(i), true);
        }
    }

private:
    [[noreturn]] static void fail(const char* call, const std::string& path) {
        std::perror((std::string(call) + " " + path).c_str());
        std::exit(1);
    }

    long budget_;
    long made_ = 0;
};

Tree generate(const std::string& base, const std::string& shape, long entries) {
    Tree tree;
    tree.home = base + "/" + shape;
    std::filesystem::create_directories(tree.home);
    Generator make(entries);
    if (shape == "typical") {
        const long share = entries / 3;
        for (const char* top : {"Documents", "Downloads", "Pictures"}) {
            tree.roots.push_back(tree.home + "/" + top);
            make.typical(tree.roots.back(), share + 1);
        }
        if (!make.full()) make.typical(tree.roots.back() + "/more", entries);
    } else {
        tree.roots = {tree.home + "/Documents", tree.home + "/Projects"};
        make.typical(tree.roots[0], entries / 2);
        make.folder(tree.roots[1]);
        for (int p = 0; make.made() + 320 <= entries; ++p) make.project(tree.roots[1] + "/project" + std::to_string(p));
        if (!make.full()) make.typical(tree.roots[0] + "/more", entries - make.made());
    }
    tree.entries = make.made();
    return tree;
}

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;    // user and system time of the child, all its threads
    long peakKiB = 0;         // the child's peak resident size
    long baselineKiB = 0;     // its resident size before the work began (scanner only)
    long long detail = 0;     // scanner: candidates found
    long long heldBytes = 0;  // scanner: heap the report holds
    double load = 0;          // the one-minute load average after the run
    double fastest = 0, slowest = 0;  // the spread of the wall times, for the median
};

double loadAverage() {
    double load = 0;
    if (FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1) load = 0;
        std::fclose(file);
    }
    return load;
}

double cpuOf(const struct rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

// Heap bytes in use, in every arena.
long long heapInUse() { return static_cast<long long>(mallinfo2().uordblks); }

long residentKiB() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs a tool with its output thrown away; false when it can't be started.
bool runTool(std::vector<std::string> args, Measure& m) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int spawned = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpuSeconds = cpuOf(usage);
    m.peakKiB = usage.ru_maxrss;
    m.load = loadAverage();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", args[0].c_str());
        std::exit(1);
    }
    return true;
}

Measure runFind(const Tree& tree) {
    std::vector<std::string> args = {"find"};
    args.insert(args.end(), tree.roots.begin(), tree.roots.end());
    args.push_back("-printf");
    args.push_back("%s %T@ %A@\n");
    Measure m;
    if (!runTool(args, m)) {
        std::perror("find");
        std::exit(1);
    }
    return m;
}

bool gduAvailable() {
    Measure ignored;
    return runTool({"gdu", "--version"}, ignored);
}

Measure runGdu(const Tree& tree) {
    Measure m;
    if (!runTool({"gdu", "-npc", tree.home}, m)) {
        std::perror("gdu");
        std::exit(1);
    }
    return m;
}

// The scan as a program of its own: this one started with "--scan EVERY-FILE THREADS HOME
// OUT ROOT...", which writes what only it can tell (candidates, heap held, resident size
// before the walk) to OUT and exits.
int scanChild(int argc, char** argv) {
    const bool everyFile = std::string(argv[2]) == "1";
    const int threads = std::atoi(argv[3]);
    const std::string home = argv[4], out = argv[5];
    const std::vector<std::string> roots(argv + 6, argv + argc);
    OffloadPolicy policy;
    if (everyFile) policy.minimumItemSize = 0;
    std::vector<std::string> system;
    for (const auto& folder : NeverTouch::systemFolders()) {
        if (folder != "/tmp" && folder != "/var") system.push_back(folder);
    }
    Scanner scanner(policy, NeverTouch::rules(home, {}, {}, {}, system), {}, {}, Clock::system()->now().adding(1000 * 86'400.0));
    scanner.threads = threads;
    Measure m;
    m.baselineKiB = residentKiB();
    const long long heapBefore = heapInUse();
    const ScanReport report = scanner.scan(roots);
    m.detail = static_cast<long long>(report.candidates.size());
    m.heldBytes = heapInUse() - heapBefore;
    // Its own peak, from the kernel's high-water mark: the rusage its parent gets counts
    // the parent's pages the launch began with as well.
    long peakKiB = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld", &peakKiB) == 1) break;
        std::fclose(status);
    }
    FILE* file = std::fopen(out.c_str(), "w");
    if (!file) return 1;
    std::fprintf(file, "%lld %lld %ld %ld\n", m.detail, m.heldBytes, m.baselineKiB, peakKiB);
    return std::fclose(file) == 0 ? 0 : 1;
}

// Runs one scan as a program started afresh, timed from launch to exit like the peers.
Measure runScanner(const Tree& tree, bool everyFile, int threads) {
    const std::string out = tree.home + ".scan-result";
    std::vector<std::string> args = {"/proc/self/exe", "--scan", everyFile ? "1" : "0", std::to_string(threads),
                                     tree.home, out};
    args.insert(args.end(), tree.roots.begin(), tree.roots.end());
    Measure m;
    if (!runTool(args, m)) {
        std::perror("scan");
        std::exit(1);
    }
    FILE* file = std::fopen(out.c_str(), "r");
    if (!file || std::fscanf(file, "%lld %lld %ld %ld", &m.detail, &m.heldBytes, &m.baselineKiB, &m.peakKiB) != 4) {
        std::fprintf(stderr, "the scan wrote no result\n");
        std::exit(1);
    }
    std::fclose(file);
    std::remove(out.c_str());
    return m;
}

Measure median(std::vector<Measure> all) {
    const size_t n = all.size();
    std::sort(all.begin(), all.end(), [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
    Measure m = all[n / 2];
    m.fastest = all.front().seconds;
    m.slowest = all.back().seconds;
    std::vector<double> cpu;
    for (const auto& each : all) {
        m.peakKiB = std::max(m.peakKiB, each.peakKiB);
        m.load = std::max(m.load, each.load);
        cpu.push_back(each.cpuSeconds);
    }
    std::sort(cpu.begin(), cpu.end());
    m.cpuSeconds = cpu[n / 2];
    return m;
}

// Drops the machine's page, dentry and inode caches, so that the next walk reads every
// folder and inode from the disk; false where that isn't allowed.
bool dropCaches() {
    ::sync();
    FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!control) return false;
    const bool written = std::fputs("3\n", control) >= 0;
    return std::fclose(control) == 0 && written;
}

Measure runDu(const Tree& tree) {
    std::vector<std::string> args = {"du", "-s"};
    args.insert(args.end(), tree.roots.begin(), tree.roots.end());
    Measure m;
    if (!runTool(args, m)) {
        std::perror("du");
        std::exit(1);
    }
    return m;
}

std::vector<long> sizesWanted() {
    std::vector<long> sizes;
    const char* wanted = std::getenv("KELDWICK_SCAN_ENTRIES");
    std::stringstream list(wanted && *wanted ? wanted : "200000,1000000");
    for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::max(1000L, std::atol(item.c_str())));
    return sizes;
}

std::string ratios(const Measure& m, const Measure* peer) {
    if (!peer || peer->seconds <= 0 || peer->cpuSeconds <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx %.2fx", m.seconds / peer->seconds, m.cpuSeconds / peer->cpuSeconds);
    return text;
}

void printHeader() {
    std::printf("%-14s %-24s %8s %15s %8s %13s %13s %13s %9s %8s %10s %6s\n", "shape", "run", "wall s", "spread",
                "CPU s", "vs du", "vs find", "vs gdu", "peak MiB", "B/entry", "candidates", "load");
}

void printRow(const char* shape, const std::string& run, const Measure& m, const Measure* du, const Measure* find,
              const Measure* gdu, long entries) {
    char beyond[16] = "";
    if (m.baselineKiB) {
        const double grown = std::max(0L, m.peakKiB - m.baselineKiB) * 1024.0 - static_cast<double>(m.heldBytes);
        std::snprintf(beyond, sizeof beyond, "%.0f", grown / entries);
    }
    char spread[32];
    std::snprintf(spread, sizeof spread, "%.3f-%.3f", m.fastest, m.slowest);
    std::printf("%-14s %-24s %8.3f %15s %8.3f %13s %13s %13s %9.1f %8s %10lld %6.2f\n", shape, run.c_str(), m.seconds,
                spread, m.cpuSeconds, ratios(m, du).c_str(), ratios(m, find).c_str(), ratios(m, gdu).c_str(),
                m.peakKiB / 1024.0, beyond, m.detail, m.load);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 7 && std::string(argv[1]) == "--scan") return scanChild(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/keldwick-scan-bench-XXXXXX";
    if (!mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    if (const char* wanted = std::getenv("KELDWICK_SCAN_THREADS")) cores = std::max(1, std::atoi(wanted));
    const bool withGdu = gduAvailable();
    if (!withGdu) std::printf("gdu not found: its runs are left out (scripts/install-deps installs it)\n");

    const int rounds = bench::rounds();
    const bool cold = dropCaches();
    if (!cold) std::printf("the caches can't be dropped (needs root): cold runs left out\n");

    for (long entries : sizesWanted()) {
        for (const std::string shape : {"typical", "project-heavy"}) {
            const auto madeAt = std::chrono::steady_clock::now();
            const Tree tree = generate(base, shape, entries);
            const double made = std::chrono::duration<double>(std::chrono::steady_clock::now() - madeAt).count();
            std::fprintf(stderr, "%s: %ld entries made in %.1f s\n", shape.c_str(), tree.entries, made);

            struct Tool {
                std::string name;
                std::function<Measure()> run;
                std::vector<Measure> measures;
            };
            std::vector<Tool> tools;
            tools.push_back({"du -s", [&] { return runDu(tree); }, {}});
            tools.push_back({"find -printf", [&] { return runFind(tree); }, {}});
            if (withGdu) tools.push_back({"gdu -npc", [&] { return runGdu(tree); }, {}});
            struct Run {
                const char* name;
                bool everyFile;
                int threads;
            };
            for (const Run run : {Run{"Scanner, 1 thread", false, 1}, Run{"Scanner, all cores", false, cores},
                                  Run{"every file, 1 thread", true, 1}, Run{"every file, all cores", true, cores}}) {
                tools.push_back({run.name, [&tree, run] { return runScanner(tree, run.everyFile, run.threads); }, {}});
            }

            for (const bool coldRuns : {true, false}) {
                if (coldRuns && !cold) continue;
                std::printf("\nscan over %ld entries, %s (%s, median of %d alternated rounds; %d cores; ratios are "
                            "wall and CPU time over the peer's, below 1: faster)\n",
                            tree.entries, shape.c_str(),
                            coldRuns ? "cold: caches dropped before each run" : "warm: after one discarded run",
                            rounds, cores);
                printHeader();
                for (auto& tool : tools) {
                    tool.measures.clear();
                    if (!coldRuns) tool.run();
                }
                for (int round = 0; round < rounds; ++round) {
                    for (size_t i = 0; i < tools.size(); ++i) {
                        auto& tool = tools[round % 2 ? tools.size() - 1 - i : i];
                        if (coldRuns) dropCaches();
                        tool.measures.push_back(tool.run());
                    }
                }
                std::vector<Measure> medians;
                for (const auto& tool : tools) medians.push_back(median(tool.measures));
                const Measure* du = &medians[0];
                const Measure* find = &medians[1];
                const Measure* gdu = withGdu ? &medians[2] : nullptr;
                for (size_t i = 0; i < tools.size(); ++i) {
                    printRow(shape.c_str(), tools[i].name, medians[i], du, find, gdu, tree.entries);
                }
            }
            std::error_code ignored;
            std::filesystem::remove_all(tree.home, ignored);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return 0;
}
