// Moving bytes to a drive: FileCopier's copy + flush + verify of one large file and of a
// tree of small files, against `cp -a` + `sync` then `openssl dgst -sha256` of source and
// copy, in the same folder and the same run. Both start with the source out of the page
// cache. Prints throughput and the ratio (above 1: Keldwick is faster).
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
#include <random>
#include <string>

#include "engine/FileCopier.h"
#include "platform/FileIO.h"

using namespace keldwick;
using Clock = std::chrono::steady_clock;

namespace {

// The real system calls, with the time spent in fsync added up.
class TimedFlushes final : public platform::FileSystemCalls {
public:
    int fsync(int fd) override {
        const auto start = Clock::now();
        const int result = FileSystemCalls::fsync(fd);
        spent += std::chrono::duration<double>(Clock::now() - start).count();
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

double seconds(const std::function<void()>& work) {
    auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Flushes the tree and drops its cached pages, so that the next reader goes to the disk.
void evict(const std::string& path) {
    ::sync();
    namespace fs = std::filesystem;
    auto drop = [](const fs::path& p) {
        int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW);
        if (fd < 0) return;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    };
    if (fs::is_regular_file(path)) return drop(path);
    for (const auto& entry : fs::recursive_directory_iterator(path))
        if (entry.is_regular_file()) drop(entry.path());
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

void report(const char* what, double bytes, double ours, double peer) {
    std::printf("%-34s Keldwick %7.1f MB/s (%6.2f s)  peer %7.1f MB/s (%6.2f s)  ratio %.2fx\n", what,
                bytes / ours / 1e6, ours, bytes / peer / 1e6, peer, peer / ours);
}

}  // namespace

int main() {
    const char* base = std::getenv("TMPDIR");
    std::string folder = std::string(base && *base ? base : "/tmp") + "/keldwick-copy-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
    const long fileMB = fromEnvironment("KELDWICK_BENCH_FILE_MB", 2048);
    const long treeFiles = fromEnvironment("KELDWICK_BENCH_TREE_FILES", 20000);
    FileCopier copier;

    {  // one large file
        std::string source = folder + "/large.bin";
        {
            std::ofstream out(source, std::ios::binary);
            std::string chunk = block(64 << 20, 1);
            for (long written = 0; written < fileMB; written += 64) out << chunk;
        }
        const double bytes = double(fileMB) * (1 << 20);
        evict(source);
        double ours = seconds([&] {
            auto digest = copier.copyFile(source, folder + "/large.copy", true, nullptr);
            copier.verify(folder + "/large.copy",
                          {{"", TreeEntry::Kind::file, static_cast<int64_t>(bytes), digest, std::nullopt}});
        });
        std::filesystem::remove(folder + "/large.copy");
        ::sync();
        evict(source);
        double peer = seconds([&] {
            run("cp -a '" + source + "' '" + folder + "/large.peer' && sync -f '" + folder +
                "/large.peer' && openssl dgst -sha256 '" + source + "' '" + folder + "/large.peer' > /dev/null");
        });
        report("large file, copy+flush+verify", bytes, ours, peer);
        std::filesystem::remove(source);
        std::filesystem::remove(folder + "/large.peer");
    }

    {  // many small files
        std::string source = folder + "/tree";
        double bytes = 0;
        std::mt19937 sizes(3);
        std::string pool = block(64 << 10, 2);
        for (long i = 0; i < treeFiles; ++i) {
            std::string dir = source + "/d" + std::to_string(i / 200);
            if (i % 200 == 0) std::filesystem::create_directories(dir);
            size_t size = 512 + sizes() % 16384;
            std::ofstream(dir + "/f" + std::to_string(i), std::ios::binary) << pool.substr(i % 1024, size);
            bytes += double(size);
        }
        // Alternating rounds, best of each: file creation on a busy disk is noisy.
        double ours = 1e9, peer = 1e9, copying = 0, verifying = 0, flushing = 0;
        long flushes = 0;
        for (int round = 0; round < 2; ++round) {
            evict(source);
            std::vector<TreeEntry> entries;
            TimedFlushes timed;
            double c = 0;
            {
                platform::ScopedFileSystemCalls installed(timed);
                c = seconds([&] { entries = copier.copyTree(source, folder + "/tree.copy", nullptr); });
            }
            double v = seconds([&] { copier.verify(folder + "/tree.copy", entries); });
            if (c + v < ours) ours = c + v, copying = c, verifying = v, flushing = timed.spent, flushes = timed.count;
            evict(source);
            peer = std::min(peer, seconds([&] {
                run("cp -a '" + source + "' '" + folder + "/tree.peer' && sync -f '" + folder +
                    "/tree.peer' && find '" + source + "' '" + folder +
                    "/tree.peer' -type f -print0 | xargs -0 openssl dgst -sha256 > /dev/null");
            }));
            std::filesystem::remove_all(folder + "/tree.copy");
            std::filesystem::remove_all(folder + "/tree.peer");
            ::sync();
        }
        std::printf("tree: copy %.2f s, verify %.2f s\n", copying, verifying);
        std::printf("tree: %ld fsync calls for %ld files (each file and folder) took %.2f s: %.3f ms per file, "
                    "%.0f%% of the copy\n",
                    flushes, treeFiles, flushing, flushing * 1e3 / static_cast<double>(treeFiles),
                    copying > 0 ? 100.0 * flushing / copying : 0.0);
        report("tree of small files, same", bytes, ours, peer);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
