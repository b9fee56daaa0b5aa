// Moving bytes to a drive: FileCopier's copy + flush + verify of one large file and of a
// tree of small files, against `cp -a` + `sync` then `openssl dgst -sha256` of source and
// copy, in the same folder and the same run, in alternated rounds (KELDWICK_BENCH_ROUNDS,
// at least 3). Every side starts with its source out of the page cache. The copier
// verifies its copy from the medium, so the peer that counts drops the copy's pages
// before openssl reads it; the peer reading its copy from the page cache is printed
// beside it. Prints each side's median and spread, throughput, and the ratio of
// Keldwick's time to the peer's (below 1: Keldwick is faster), and for the tree the
// system calls per file of one copy counted by strace when it is installed.
//
// For the tree it also prints what the flushes cost: the copier fsyncs every file and
// every folder it makes, the files together once all are written, their write-back
// started as each was (the peer flushes its copy once, with `sync -f`), so the time
// spent in fsync, per file and as a share of the copy, is measured beside the ratio.
//
// KELDWICK_BENCH_FILE_MB (default 2048) and KELDWICK_BENCH_TREE_FILES (default 20000)
// change the sizes; TMPDIR picks the folder (put it on the disk to measure).

#include <fcntl.h>
#include <stdlib.h>
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
#include "engine/FileCopier.h"
#include "platform/FileIO.h"

using namespace keldwick;
using SteadyClock = std::chrono::steady_clock;

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
    std::filesystem::remove(out);
    std::filesystem::remove_all(copy);
}

}  // namespace

int main(int argc, char** argv) {
    FileCopier copier;
    if (argc == 4 && std::string(argv[1]) == "--copy-tree") {  // the traced child
        copier.copyTree(argv[2], argv[3], nullptr);
        return 0;
    }
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/keldwick-copy-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
    const long fileMB = fromEnvironment("KELDWICK_BENCH_FILE_MB", 2048);
    const long treeFiles = fromEnvironment("KELDWICK_BENCH_TREE_FILES", 20000);
    namespace fs = std::filesystem;
    std::printf("copy + flush + verify, %d alternated rounds; every side starts with its source out of the page "
                "cache\n\n", bench::rounds());

    // The peers: `cp -a` + `sync -f` of the copy, then `openssl dgst -sha256` of source
    // and copy, once as they stand in the page cache, once with the copy's pages dropped
    // first so that it is read from the medium, as the copier verifies.
    auto peerCommand = [](const std::string& source, const std::string& copy) {
        return "cp -a '" + source + "' '" + copy + "' && sync -f '" + copy + "'";
    };
    auto digestCommand = [](const std::string& source, const std::string& copy) {
        return "find '" + source + "' '" + copy + "' -type f -print0 | xargs -0 openssl dgst -sha256 > /dev/null";
    };

    {  // one large file
        const std::string source = folder + "/large.bin", copy = folder + "/large.copy";
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
        bench::Side ours{"Keldwick (verifies from the medium)", [&] {
                             auto digest = copier.copyFile(source, copy, true, nullptr);
                             copier.verify(copy, {{"", TreeEntry::Kind::file, static_cast<int64_t>(bytes), digest,
                                                   std::nullopt}});
                         },
                         fresh};
        bench::Side cached{"cp+sync+openssl, copy from page cache",
                           [&] { run(peerCommand(source, copy) + " && " + digestCommand(source, copy)); }, fresh};
        bench::Side medium{"cp+sync+openssl, copy from medium", [&] {
                               run(peerCommand(source, copy));
                               bench::dropPages(copy);
                               run(digestCommand(source, copy));
                           },
                           fresh};
        bench::alternate({&ours, &cached, &medium});
        fs::remove_all(copy);
        char what[96];
        std::snprintf(what, sizeof what, "large file (%ld MB), against the peer verifying from the medium:", fileMB);
        bench::printRatio(what, ours, medium);
        throughput("Keldwick", bytes, ours);
        throughput("peer", bytes, medium);
        bench::printRatio("large file, against the peer verifying from the page cache:", ours, cached);
        fs::remove(source);
    }

    {  // many small files
        const std::string source = folder + "/tree", copy = folder + "/tree.copy";
        double bytes = 0;
        std::mt19937 sizes(3);
        std::string pool = block(64 << 10, 2);
        for (long i = 0; i < treeFiles; ++i) {
            std::string dir = source + "/d" + std::to_string(i / 200);
            if (i % 200 == 0) fs::create_directories(dir);
            size_t size = 512 + sizes() % 16384;
            std::ofstream(dir + "/f" + std::to_string(i), std::ios::binary) << pool.substr(i % 1024, size);
            bytes += double(size);
        }
        auto fresh = [&] {
            fs::remove_all(copy);
            ::sync();
            bench::dropTreePages(source);
        };
        bench::Timings copying, verifying, flushing;
        long flushes = 0;
        bench::Side ours{"Keldwick (verifies from the medium)", [&] {
                             std::vector<TreeEntry> entries;
                             TimedFlushes timed;
                             {
                                 platform::ScopedFileSystemCalls installed(timed);
                                 copying.seconds.push_back(
                                     bench::secondsOf([&] { entries = copier.copyTree(source, copy, nullptr); }));
                             }
                             verifying.seconds.push_back(bench::secondsOf([&] { copier.verify(copy, entries); }));
                             flushing.seconds.push_back(timed.spent);
                             flushes = timed.count;
                         },
                         fresh};
        bench::Side cached{"cp+sync+openssl, copy from page cache",
                           [&] { run(peerCommand(source, copy) + " && " + digestCommand(source, copy)); }, fresh};
        bench::Side medium{"cp+sync+openssl, copy from medium", [&] {
                               run(peerCommand(source, copy));
                               bench::dropTreePages(copy);
                               run(digestCommand(source, copy));
                           },
                           fresh};
        bench::alternate({&ours, &cached, &medium});
        fs::remove_all(copy);
        std::printf("\ntree of %ld small files (%.1f MB): Keldwick's copy %s, verify %s\n", treeFiles, bytes / 1e6,
                    bench::describe(copying).c_str(), bench::describe(verifying).c_str());
        std::printf("tree: %ld fsync calls for %ld files (each file and folder), median %.2f s: %.3f ms per file, "
                    "%.0f%% of the median copy\n",
                    flushes, treeFiles, flushing.median(), flushing.median() * 1e3 / static_cast<double>(treeFiles),
                    copying.median() > 0 ? 100.0 * flushing.median() / copying.median() : 0.0);
        bench::printRatio("tree, against the peer verifying from the medium:", ours, medium);
        std::printf("  %.3f ms per file for Keldwick, %.3f ms for the peer\n", ours.timings.median() * 1e3 / treeFiles,
                    medium.timings.median() * 1e3 / treeFiles);
        bench::printRatio("tree, against the peer verifying from the page cache:", ours, cached);
        fs::remove_all(copy);
        ::sync();
        bench::dropTreePages(source);
        printSystemCalls(argv[0], source, copy, treeFiles);
    }
    fs::remove_all(folder);
    return 0;
}
