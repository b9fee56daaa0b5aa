// Moving bytes from the home to a drive: FileCopier's copy + flush + verify of one large
// file and of a tree of small files (1-64 KiB), from a home file system to a drive file
// system (two ext4 images on loop devices with direct I/O where it runs as root, two
// folders of one file system otherwise, and it says so), against peers in the same run,
// in alternated rounds (KELDWICK_BENCH_ROUNDS, at least 3), medians and spreads with the
// load average beside them. Every side starts with its source out of the page cache.
//
// The copier verifies its copy from the medium, so the peer that counts drops its copy's
// pages before openssl reads it, and that page-dropping pass is left out of the peer's
// time. Before every verify, Keldwick's and the peers', mincore tells how many of the
// copy's pages are still cached (untimed); the largest share seen is printed, and where
// pages stay cached (a tmpfs) the figures say so.
//
// Peers: the large file against `cp -a` + `sync -f` + `openssl dgst -sha256` of source
// and copy, and against `dd bs=1M conv=fsync` + `dd iflag=direct | openssl dgst -sha256`
// (write once, read once); the tree against `cp -a` + `sync -f` + openssl, `rsync -a` +
// `sync -f` and `tar c | tar x` + `sync -f` (neither verifies anything), then against
// `cp -a` + `sync -f` + openssl again with a second process writing to the drive
// throughout. For the tree also what its flushes cost and, with strace, the system calls
// per file of one copy.
//
// KELDWICK_BENCH_FILE_MB (default 2048) and KELDWICK_BENCH_TREE_FILES (default 20000)
// change the sizes; TMPDIR picks the folder the images or folders go in (default
// /var/tmp; put it on the disk to measure).

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Alternation.h"
#include "Volumes.h"
#include "engine/FileCopier.h"
#include "platform/FileIO.h"

using namespace keldwick;
using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

// The real system calls, with the time spent in fsync added up.
class TimedFlushes final : public platform::FileSystemCalls {
public:
    int fsync(int fd) override {
        const auto start = SteadyClock::now();
        const int result = FileSystemCalls::fsync(fd);
        spent += std::chrono::duration<double>(SteadyClock::now() - start).count();
        ++count;
        return result;
    }
    double spent = 0;
    long count = 0;
};

long fromEnvironment(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
        std::exit(1);
    }
}

std::string block(size_t size, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint64_t v = generator();
        std::memcpy(&bytes[i], &v, 8);
    }
    return bytes;
}

void throughput(const char* what, double bytes, const bench::Side& side) {
    std::printf("  %-40s %.1f MB/s at the median\n", what, bytes / side.timings.median() / 1e6);
}

// The most of a copy's pages found cached before a verify, over every run of a side.
struct CachedBeforeVerify {
    double worstShare = 0;
    bench::Residency worst;
    bool unknown = false;

    void check(const std::string& copy) {
        const bench::Residency now = bench::residency(copy);
        if (!now.checked) {
            unknown = true;
            return;
        }
        const double share = now.pages ? double(now.resident) / double(now.pages) : 0;
        if (share >= worstShare) {
            worstShare = share;
            worst = now;
        }
    }
    std::string text() const {
        if (unknown) return "mincore could not tell which pages were cached: whether it read the medium is unknown";
        std::string line = "before verifying, at most " + bench::describe(worst);
        if (worstShare > 0.01) line += ": it verified partly from the page cache, not the medium";
        else line += ": it verified from the medium";
        return line;
    }
};

// A second process writing to `folder` while it lives: 64 MiB at a time, each flushed,
// over and over (at most 10,000 times), in a process group of its own.
class BusyWriter {
public:
    explicit BusyWriter(const std::string& folder) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            const std::string loop = "i=0; while [ $i -lt 10000 ]; do dd if=/dev/zero of='" + folder +
                                     "/.busy-writer' bs=1M count=64 conv=fsync status=none; i=$((i+1)); done";
            ::execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid_ > 0) ::setpgid(pid_, pid_);
        file_ = folder + "/.busy-writer";
    }
    ~BusyWriter() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove(file_, ignored);
    }
    BusyWriter(const BusyWriter&) = delete;
    BusyWriter& operator=(const BusyWriter&) = delete;

private:
    pid_t pid_ = -1;
    std::string file_;
};

// System calls of one copy of the tree by this program run under strace, when strace is
// installed: the copier alone, in a child, so that nothing else is counted.
void printSystemCalls(const char* self, const std::string& source, const std::string& copy, long files) {
    if (std::system("command -v strace > /dev/null 2>&1") != 0) {
        std::printf("tree: strace not installed, system calls per file not counted\n");
        return;
    }
    const std::string out = copy + ".strace";
    const std::string command = "strace -c -f -o '" + out + "' '" + self + "' --copy-tree '" + source + "' '" + copy +
                                "' > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::printf("tree: the traced copy failed, system calls not counted\n");
        return;
    }
    std::ifstream in(out);
    std::map<std::string, long> calls;
    long total = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        // "% time seconds usecs/call calls [errors] syscall"; the total line ends in "total".
        if (words.size() < 5 || words[0].find_first_not_of("0123456789.") != std::string::npos) continue;
        const long count = std::strtol(words[3].c_str(), nullptr, 10);
        if (words.back() == "total") total = count;
        else calls[words.back()] = count;
    }
    std::printf("tree: %.1f system calls per file (strace -c -f of one copy of %ld files, setup included):",
                double(total) / double(files), files);
    std::vector<std::pair<long, std::string>> top;
    for (const auto& [name, count] : calls) top.push_back({count, name});
    std::sort(top.rbegin(), top.rend());
    for (size_t i = 0; i < top.size() && i < 8; ++i)
        std::printf(" %s %.1f", top[i].second.c_str(), double(top[i].first) / double(files));
    std::printf("\n");
    fs::remove(out);
    fs::remove_all(copy);
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// `cp -a` of the source into the copy's place, then its file system flushed.
std::string cpCommand(const std::string& source, const std::string& copy) {
    return "cp -a " + quoted(source) + " " + quoted(copy) + " && sync -f " + quoted(copy);
}
// Both sides hashed, as the copier hashes the source it reads and verifies the copy.
std::string digestCommand(const std::string& source, const std::string& copy) {
    return "find " + quoted(source) + " " + quoted(copy) +
           " -type f -print0 | xargs -0 openssl dgst -sha256 > /dev/null";
}

}  // namespace

int main(int argc, char** argv) {
    FileCopier copier;
    if (argc == 4 && std::string(argv[1]) == "--copy-tree") {  // the traced child
        copier.copyTree(argv[2], argv[3], nullptr);
        return 0;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/var/tmp") + "/keldwick-copy-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
    const long fileMB = std::max(1L, fromEnvironment("KELDWICK_BENCH_FILE_MB", 2048));
    const long treeFiles = std::max(1L, fromEnvironment("KELDWICK_BENCH_TREE_FILES", 20000));
    const bool withRsync = bench::quietly("command -v rsync");
    // Room for the sources at home; on the drive for one copy at a time and the writer's file.
    const long treeMB = treeFiles * 66 / 1000 + 64;
    {
        bench::HomeAndDrive volumes(folder, fileMB + treeMB + 256, fileMB + treeMB + 512);
        std::printf("copy + flush + verify, home to drive, %d alternated rounds; every side starts with its source "
                    "out of the page cache\n%s\nload %s\n\n",
                    bench::rounds(), volumes.description.c_str(), bench::loadAverage().c_str());

        {  // one large file
            const std::string source = volumes.home + "/large.bin", copy = volumes.drive + "/large.copy";
            {
                std::ofstream out(source, std::ios::binary);
                const std::string chunk = block(64 << 20, 1);
                // Exactly the size asked for: the verification below expects that many bytes.
                for (long written = 0; written < fileMB; written += 64)
                    out.write(chunk.data(), std::min<long>(64, fileMB - written) << 20);
            }
            const double bytes = double(fileMB) * (1 << 20);
            auto fresh = [&] {
                fs::remove_all(copy);
                ::sync();
                bench::dropPages(source);
            };
            CachedBeforeVerify oursCached, cpCached;
            bench::Side ours{"Keldwick (verifies from the medium)", {}, fresh};
            ours.run = [&] {
                auto digest = copier.copyFile(source, copy, true, nullptr);
                ours.untimed([&] { oursCached.check(copy); });
                copier.verify(copy, {{"", TreeEntry::Kind::file, static_cast<int64_t>(bytes), digest, std::nullopt}});
            };
            bench::Side cp{"cp -a + sync + openssl, from the medium", {}, fresh};
            cp.run = [&] {
                run(cpCommand(source, copy));
                cp.untimed([&] {
                    bench::dropPages(copy);
                    cpCached.check(copy);
                });
                run(digestCommand(source, copy));
            };
            bench::Side dd{"dd conv=fsync + dd iflag=direct | openssl", [&] {
                               run("dd if=" + quoted(source) + " of=" + quoted(copy) +
                                   " bs=1M conv=fsync status=none && dd if=" + quoted(copy) +
                                   " iflag=direct bs=1M status=none | openssl dgst -sha256 > /dev/null");
                           },
                           fresh};
            bench::alternate({&ours, &cp, &dd});
            fs::remove_all(copy);
            char what[128];
            std::snprintf(what, sizeof what, "large file (%ld MiB), against cp + sync + openssl from the medium:",
                          fileMB);
            bench::printRatio(what, ours, cp);
            bench::printRatio("large file, against dd conv=fsync + dd iflag=direct | openssl (goal <= 1.2x):", ours,
                              dd);
            throughput("Keldwick", bytes, ours);
            throughput("cp + sync + openssl", bytes, cp);
            throughput("dd + dd | openssl", bytes, dd);
            std::printf("  Keldwick %s\n  cp peer %s\n\n", oursCached.text().c_str(), cpCached.text().c_str());
            fs::remove(source);
        }

        {  // many small files
            const std::string source = volumes.home + "/tree", copy = volumes.drive + "/tree.copy";
            double bytes = 0;
            std::mt19937 sizes(3);
            const std::string pool = block(128 << 10, 2);
            for (long i = 0; i < treeFiles; ++i) {
                const std::string dir = source + "/d" + std::to_string(i / 200);
                if (i % 200 == 0) fs::create_directories(dir);
                const size_t size = 1024 + sizes() % (63 * 1024 + 1);
                std::ofstream(dir + "/f" + std::to_string(i), std::ios::binary) << pool.substr(i % 4096, size);
                bytes += double(size);
            }
            auto fresh = [&] {
                fs::remove_all(copy);
                ::sync();
                bench::dropTreePages(source);
            };
            bench::Timings copying, verifying, flushing;
            long flushes = 0;
            CachedBeforeVerify oursCached, cpCached;
            bench::Side ours{"Keldwick (verifies from the medium)", {}, fresh};
            ours.run = [&] {
                std::vector<TreeEntry> entries;
                TimedFlushes timed;
                {
                    platform::ScopedFileSystemCalls installed(timed);
                    copying.seconds.push_back(
                        bench::secondsOf([&] { entries = copier.copyTree(source, copy, nullptr); }));
                }
                ours.untimed([&] { oursCached.check(copy); });
                verifying.seconds.push_back(bench::secondsOf([&] { copier.verify(copy, entries); }));
                flushing.seconds.push_back(timed.spent);
                flushes = timed.count;
            };
            bench::Side cp{"cp -a + sync + openssl, from the medium", {}, fresh};
            cp.run = [&] {
                run(cpCommand(source, copy));
                cp.untimed([&] {
                    bench::dropTreePages(copy);
                    cpCached.check(copy);
                });
                run(digestCommand(source, copy));
            };
            bench::Side rsync{"rsync -a + sync (verifies nothing)", [&] {
                                  run("rsync -a " + quoted(source + "/") + " " + quoted(copy + "/") + " && sync -f " +
                                      quoted(copy));
                              },
                              fresh};
            bench::Side tar{"tar c | tar x + sync (verifies nothing)", [&] {
                                fs::create_directories(copy);
                                run("tar -C " + quoted(source) + " -cf - . | tar -C " + quoted(copy) +
                                    " -xf - && sync -f " + quoted(copy));
                            },
                            fresh};
            std::vector<bench::Side*> sides{&ours, &cp, &tar};
            if (withRsync) sides.insert(sides.begin() + 2, &rsync);
            bench::alternate(sides);
            fs::remove_all(copy);
            std::printf("tree of %ld files of 1-64 KiB (%.1f MB), quiet disk: Keldwick's copy %s, verify %s\n",
                        treeFiles, bytes / 1e6, bench::describe(copying).c_str(), bench::describe(verifying).c_str());
            std::printf("tree: %ld fsync calls for %ld files, median %.2f s in them: %.3f ms per file, %.0f%% of the "
                        "median copy\n",
                        flushes, treeFiles, flushing.median(), flushing.median() * 1e3 / double(treeFiles),
                        copying.median() > 0 ? 100.0 * flushing.median() / copying.median() : 0.0);
            bench::printRatio("tree, quiet disk, against cp + sync + openssl from the medium (goal <= 0.5x):", ours,
                              cp);
            std::printf("  %.3f ms per file for Keldwick, %.3f ms for the peer\n",
                        ours.timings.median() * 1e3 / double(treeFiles), cp.timings.median() * 1e3 / double(treeFiles));
            if (withRsync) bench::printRatio("tree, quiet disk, against rsync -a + sync (goal <= 1.5x):", ours, rsync);
            else std::printf("tree: rsync not installed, its peer left out (scripts/install-deps installs it)\n");
            bench::printRatio("tree, quiet disk, against tar c | tar x + sync:", ours, tar);
            std::printf("  Keldwick %s\n  cp peer %s\n\n", oursCached.text().c_str(), cpCached.text().c_str());

            {  // the same with the disk shared
                CachedBeforeVerify busyOursCached, busyCpCached;
                bench::Side busyOurs{"Keldwick, disk busy", {}, fresh};
                busyOurs.run = [&] {
                    const auto entries = copier.copyTree(source, copy, nullptr);
                    busyOurs.untimed([&] { busyOursCached.check(copy); });
                    copier.verify(copy, entries);
                };
                bench::Side busyCp{"cp -a + sync + openssl, disk busy", {}, fresh};
                busyCp.run = [&] {
                    run(cpCommand(source, copy));
                    busyCp.untimed([&] {
                        bench::dropTreePages(copy);
                        busyCpCached.check(copy);
                    });
                    run(digestCommand(source, copy));
                };
                {
                    BusyWriter writer(volumes.drive);
                    bench::alternate({&busyOurs, &busyCp});
                }
                fs::remove_all(copy);
                bench::printRatio("tree, a second process writing to the drive throughout, against cp + sync + "
                                  "openssl from the medium (goal <= 1.0x):",
                                  busyOurs, busyCp);
                std::printf("  Keldwick %s\n  cp peer %s\n\n", busyOursCached.text().c_str(),
                            busyCpCached.text().c_str());
            }
            ::sync();
            bench::dropTreePages(source);
            printSystemCalls(argv[0], source, copy, treeFiles);
            fs::remove_all(source);
        }
    }
    fs::remove_all(folder);
    return 0;
}
