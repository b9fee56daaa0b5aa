#include "foundation/Checksum.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>

#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

using namespace keldwick;

namespace {

constexpr const char* emptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
constexpr const char* abcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string randomBytes(size_t count) {
    std::mt19937 generator(42);
    std::string bytes(count, '\0');
    for (auto& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

int openFailureCode(const std::string& path, const char* operation) {
    try {
        Checksum::sha256OfFile(path, 4096);
    } catch (const POSIXFailure& failure) {
        EXPECT_EQ(failure.operation(), operation) << failure.what();
        EXPECT_EQ(failure.path(), path);
        return failure.code();
    }
    ADD_FAILURE() << "hashing " << path << " did not fail";
    return 0;
}

}  // namespace

TEST(ChecksumTest, KnownVectors) {
    EXPECT_EQ(Checksum::sha256(""), emptyDigest);
    EXPECT_EQ(Checksum::sha256("abc"), abcDigest);
    EXPECT_EQ(Checksum::sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Bytes, not C strings: a NUL inside counts.
    EXPECT_NE(Checksum::sha256(std::string("a\0b", 3)), Checksum::sha256("a"));

    Checksum::Hasher hasher;
    hasher.update("a");
    hasher.update("");
    hasher.update("bc");
    auto digest = hasher.finish();
    EXPECT_EQ(Checksum::hex(digest), abcDigest);
    auto pairs = Checksum::hexDigits(digest);
    ASSERT_EQ(pairs.size(), 32u);
    EXPECT_EQ(pairs[0], "ba");
    EXPECT_EQ(pairs[31], "ad");
}

TEST(ChecksumTest, FileDigestDoesNotDependOnChunkSize) {
    test::TempDir dir;
    EXPECT_EQ(Checksum::sha256OfFile(test::writeFile(dir / "empty", ""), 1), emptyDigest);
    EXPECT_EQ(Checksum::sha256OfFile(test::writeFile(dir / "abc", "abc"), Checksum::defaultChunkSize), abcDigest);

    const auto small = randomBytes(9'000);
    const auto smallPath = test::writeFile(dir / "small", small);
    for (size_t chunk : {size_t(1), size_t(7), size_t(4096), Checksum::defaultChunkSize}) {
        EXPECT_EQ(Checksum::sha256OfFile(smallPath, chunk), Checksum::sha256(small)) << chunk;
    }
    // Around the size below which a file is read into a buffer of its own size.
    for (size_t size : {size_t(65'535), size_t(65'536), size_t(65'537), size_t(300'000)}) {
        const auto bytes = randomBytes(size);
        EXPECT_EQ(Checksum::sha256OfFile(test::writeFile(dir / "sized", bytes), Checksum::defaultChunkSize),
                  Checksum::sha256(bytes))
            << size;
    }
    // Larger than one default chunk, and not a multiple of it.
    const auto large = randomBytes(Checksum::defaultChunkSize + 12'345);
    const auto largePath = test::writeFile(dir / "large", large);
    EXPECT_EQ(Checksum::sha256OfFile(largePath, Checksum::defaultChunkSize), Checksum::sha256(large));
    EXPECT_EQ(Checksum::sha256OfFile(largePath, 65'536), Checksum::sha256(large));

    EXPECT_THROW(Checksum::sha256OfFile(smallPath, 0), std::invalid_argument);
}

namespace {
// The read calls this process has made so far (/proc/self/io), itself included.
long readCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value)
        if (key == "syscr:") return value;
    return -1;
}
}  // namespace

// A small file is read by one call: the read that finds its end isn't made.
TEST(ChecksumTest, ReadsASmallFileOnce) {
    test::TempDir dir;
    const auto bytes = randomBytes(20'000);
    const auto path = test::writeFile(dir / "small", bytes);
    // The first digest reads the crypto library's configuration.
    Checksum::sha256OfFile(test::writeFile(dir / "first", "x"), Checksum::defaultChunkSize);
    const long first = readCalls();
    ASSERT_GT(first, 0) << "no /proc/self/io";
    const long idle = readCalls() - first;  // what asking costs
    for (const std::string& file : {path, test::writeFile(dir / "empty", "")}) {
        const long before = readCalls();
        const std::string digest = Checksum::sha256OfFile(file, Checksum::defaultChunkSize);
        const long calls = readCalls() - before - idle;
        EXPECT_EQ(digest, file == path ? Checksum::sha256(bytes) : emptyDigest);
        EXPECT_EQ(calls, 1) << file;
    }
}

TEST(ChecksumTest, RefusesWhatIsNotARegularFile) {
    test::TempDir dir;
    test::writeFile(dir / "real", "content");
    ASSERT_EQ(::symlink("real", (dir / "link").c_str()), 0);
    EXPECT_EQ(openFailureCode(dir / "link", "open"), ELOOP);
    EXPECT_EQ(openFailureCode(dir / "missing", "open"), ENOENT);
    test::makeDirs(dir / "folder");
    EXPECT_EQ(openFailureCode(dir / "folder", "read"), EISDIR);

    // A FIFO without a writer would block a plain open forever; a device never ends.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_EQ(openFailureCode(dir / "fifo", "open"), EINVAL);
    EXPECT_EQ(openFailureCode("/dev/zero", "open"), EINVAL);
}

TEST(ChecksumTest, KeepsTheAccessTimeOfWhatItHashes) {
    test::TempDir dir;
    const auto path = test::writeFile(dir / "old", "rarely used");
    // An access time older than the modification time is one that relatime would update.
    struct timespec times[2] = {{1'000'000'000, 0}, {UTIME_OMIT, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    Checksum::sha256OfFile(path, 4096);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1'000'000'000);
}

TEST(ChecksumTest, HashesAnotherUsersReadableFileWithoutNoAtimeRights) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const auto path = test::writeFile(dir / "theirs", "abc");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        // O_NOATIME is refused with EPERM for a file we don't own; hashing still works.
        int rc = 1;
        try {
            rc = Checksum::sha256OfFile(path, 4096) == abcDigest ? 0 : 3;
        } catch (...) {
            rc = 4;
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
