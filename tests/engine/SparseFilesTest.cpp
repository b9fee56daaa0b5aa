// A file with holes leaves and comes back with them: kept on a drive that has holes,
// written out on one that hasn't (exFAT) and punched again at home, its digest the same
// either way, and room at home counted by what it really takes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/ChunkStream.h"
#include "engine/FileCopier.h"
#include "engine/OffloadEngine.h"
#include "engine/RestoreExecutor.h"
#include "foundation/Checksum.h"
#include "foundation/EngineError.h"
#include "platform/FileIO.h"
#include "support/EngineWorld.h"
#include "support/RealMounts.h"
#include "support/TempDir.h"

namespace keldwick {
namespace {

using test::candidateFor;
using test::engineOver;
using test::EngineWorld;
namespace fs = std::filesystem;

constexpr int64_t MB = 1024 * 1024;

struct Space {
    int64_t size = 0;
    int64_t allocated = 0;
};

Space spaceOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) throw std::runtime_error("stat " + path + ": " + std::strerror(errno));
    return {static_cast<int64_t>(status.st_size), static_cast<int64_t>(status.st_blocks) * 512};
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(generator());
    return bytes;
}

void writeAt(int fd, const std::string& bytes, int64_t offset) {
    if (::pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("pwrite");
}

// `logical` bytes of which only `written` hold data: half in the middle, half at the end.
void makeSparse(const std::string& path, int64_t logical, int64_t written) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("open " + path);
    (void)::ftruncate(fd, logical);
    writeAt(fd, randomBytes(static_cast<size_t>(written / 2), 1), logical / 3);
    writeAt(fd, randomBytes(static_cast<size_t>(written / 2), 2), logical - written / 2);
    ::close(fd);
}

class SparseFilesTest : public ::testing::Test {
protected:
    EngineWorld world;

    void SetUp() override {
        const std::string probe = world.tmp / "probe";
        makeSparse(probe, 8 * MB, 8192);
        if (spaceOf(probe).allocated >= 8 * MB) GTEST_SKIP() << "the test folder's file system keeps no holes";
    }

    // As a scan offers it: by what it takes on this computer.
    std::string move(const std::string& path) {
        Candidate candidate = candidateFor(path);
        candidate.size = spaceOf(path).allocated;
        if (candidate.isDirectory)
            for (const auto& entry : FileCopier().walk(path)) candidate.size += spaceOf(path + "/" + entry.path).allocated;
        const auto outcome = engineOver(world)->offload(candidate, false);
        EXPECT_EQ(outcome.record.phase, Phase::offloaded) << outcome.record.error.value_or("");
        return world.drivePathFor(path);
    }
    OffloadRecord restore(const std::string& path, RestoreExecutor executor) {
        for (const auto& record : world.journal->allRecords())
            if (record.originalPath == path) return executor.restore(record.id, std::nullopt);
        throw std::runtime_error("no record of " + path);
    }
    OffloadRecord restore(const std::string& path) { return restore(path, RestoreExecutor(world.context())); }
};

TEST_F(SparseFilesTest, AFileWithHolesKeepsThemBothWays) {
    const std::string image = world.home + "/disk.img";
    makeSparse(image, 128 * MB, 2 * MB);
    const std::string folder = world.makeFolder("VMs", false);
    makeSparse(folder + "/sub/inner.img", 32 * MB, 2 * MB);
    const std::string digest = Checksum::sha256OfFile(image, 1 << 20);
    const std::string innerDigest = Checksum::sha256OfFile(folder + "/sub/inner.img", 1 << 20);

    const Space onDrive = spaceOf(move(image));
    EXPECT_EQ(onDrive.size, 128 * MB);
    EXPECT_LT(onDrive.allocated, 4 * MB);
    EXPECT_LT(spaceOf(move(folder) + "/sub/inner.img").allocated, 4 * MB);

    // Room at home is counted by what the files take, not by their size.
    world.configuration.computerReserveBytes = 0;
    RestoreExecutor tight(world.context());
    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(20 * MB); };
    EXPECT_EQ(restore(image, tight).phase, Phase::restored);
    EXPECT_EQ(restore(folder, tight).phase, Phase::restored);
    const Space home = spaceOf(image);
    EXPECT_EQ(home.size, 128 * MB);
    EXPECT_LT(home.allocated, 4 * MB);
    EXPECT_LT(spaceOf(folder + "/sub/inner.img").allocated, 4 * MB);
    EXPECT_EQ(Checksum::sha256OfFile(image, 1 << 20), digest);
    EXPECT_EQ(Checksum::sha256OfFile(folder + "/sub/inner.img", 1 << 20), innerDigest);
}

// A file without holes isn't given any: its zeros were allocated on purpose (a
// preallocated image), so they come back allocated.
TEST_F(SparseFilesTest, AFileOfWrittenZerosComesBackWritten) {
    const std::string file = world.home + "/prealloc.img";
    {
        const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        writeAt(fd, std::string(4 * MB, '\0'), 0);
        ::close(fd);
    }
    move(file);
    EXPECT_EQ(restore(file).phase, Phase::restored);
    EXPECT_GE(spaceOf(file).allocated, 4 * MB);
}

// exFAT has no holes: the drive copy is written out, and the file comes home with its
// holes punched again, as the record says it had them.
TEST_F(SparseFilesTest, ThroughExFATTheCopyIsWrittenOutAndTheHolesComeBack) {
    if (auto reason = test::mountSkipReason("mount.exfat-fuse")) GTEST_SKIP() << *reason;
    const std::string mountPoint = world.tmp / "exfat";
    fs::create_directories(mountPoint);
    test::LoopVolume volume(world.tmp / "exfat.img", 160, "mkfs.exfat -L Travel", "mount.exfat-fuse -o umask=022",
                            mountPoint);
    if (!volume.mounted()) GTEST_SKIP() << "can't mount: " << volume.error();
    world.root = mountPoint;
    world.locator->mounts[world.drive.id] = mountPoint;

    const std::string image = world.home + "/disk.img";
    makeSparse(image, 96 * MB, 2 * MB);
    const std::string digest = Checksum::sha256OfFile(image, 1 << 20);
    const Space onDrive = spaceOf(move(image));
    EXPECT_EQ(onDrive.size, 96 * MB);
    EXPECT_GE(onDrive.allocated, 96 * MB) << "exFAT writes the holes out";

    world.configuration.computerReserveBytes = 0;
    RestoreExecutor tight(world.context());
    tight.availableBytes = [](const std::string&) { return std::optional<int64_t>(20 * MB); };
    EXPECT_EQ(restore(image, tight).phase, Phase::restored);
    const Space home = spaceOf(image);
    EXPECT_EQ(home.size, 96 * MB);
    EXPECT_LT(home.allocated, 4 * MB);
    EXPECT_EQ(Checksum::sha256OfFile(image, 1 << 20), digest);
}

// The byte work on its own: which ranges are written, which punched.
class PunchRecorder final : public platform::FileSystemCalls {
public:
    int fallocate(int fd, int mode, off_t offset, off_t length) override {
        punched.emplace_back(offset, length);
        EXPECT_EQ(mode, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE);
        if (refuse) {
            errno = EOPNOTSUPP;
            return -1;
        }
        return FileSystemCalls::fallocate(fd, mode, offset, length);
    }
    std::vector<std::pair<off_t, off_t>> punched;
    bool refuse = false;
};

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ChunkStream::Result copyWith(const std::string& from, const std::string& to, ChunkStream::Holes holes,
                             int64_t chunk = 256 * 1024) {
    platform::Fd source = platform::openRead(from);
    platform::Fd destination(::open(to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    return ChunkStream::copy(source.get(), destination.get(), chunk, holes, nullptr, from, to);
}

TEST(ChunkStreamHolesTest, ZeroBlocksBecomeHolesOnlyWhenAsked) {
    test::TempDir dir;
    const std::string written = dir / "written";
    // Data, 1 MB of written zeros, data, and a tail of zeros shorter than a block.
    const std::string content = randomBytes(5000, 3) + std::string(MB, '\0') + randomBytes(70'000, 4) +
                                std::string(1000, '\0');
    {
        std::ofstream out(written, std::ios::binary);
        out << content;
    }
    for (int64_t chunk : {int64_t{4096 * 3 + 100}, int64_t{4 * MB}}) {  // pipelined and serial
        SCOPED_TRACE(chunk);
        const std::string plain = dir / ("plain" + std::to_string(chunk));
        const std::string holed = dir / ("holed" + std::to_string(chunk));
        PunchRecorder recorder;
        platform::ScopedFileSystemCalls scoped(recorder);
        const auto asSource = copyWith(written, plain, ChunkStream::Holes::asSource, chunk);
        EXPECT_TRUE(recorder.punched.empty()) << "a file without holes is copied as it is";
        const auto zeroBlocks = copyWith(written, holed, ChunkStream::Holes::zeroBlocks, chunk);
        EXPECT_EQ(asSource.sha256, zeroBlocks.sha256);
        EXPECT_EQ(asSource.bytes, static_cast<int64_t>(content.size()));
        EXPECT_EQ(contentOf(holed), content);
        EXPECT_GE(spaceOf(plain).allocated, MB);
        EXPECT_LT(spaceOf(holed).allocated, MB / 2);
        // The zeros between the block after the first data and the block holding the second.
        ASSERT_FALSE(recorder.punched.empty());
        for (const auto& [offset, length] : recorder.punched) {
            EXPECT_EQ(offset % 4096, 0);
            EXPECT_EQ(length % 4096, 0);
            EXPECT_GE(offset, 5000);
            EXPECT_LE(offset + length, 5000 + MB);
        }
    }
}

TEST(ChunkStreamHolesTest, HolesAreReadAsZerosAndAllocatedZerosStayAllocated) {
    test::TempDir dir;
    const std::string source = dir / "source";
    makeSparse(source, 40 * MB, 2 * MB);
    {
        // Written zeros inside the file are allocated on purpose and stay so.
        const int fd = ::open(source.c_str(), O_WRONLY);
        writeAt(fd, std::string(MB, '\0'), 20 * MB);
        ::close(fd);
    }
    if (spaceOf(source).allocated >= 40 * MB) GTEST_SKIP() << "the test folder's file system keeps no holes";
    const auto copied = copyWith(source, dir / "copy", ChunkStream::Holes::asSource);
    EXPECT_EQ(copied.sha256, Checksum::sha256OfFile(source, 1 << 20));
    EXPECT_EQ(Checksum::sha256OfFile(dir / "copy", 1 << 20), copied.sha256);
    EXPECT_EQ(spaceOf(dir / "copy").allocated, spaceOf(source).allocated);
    platform::Fd copy = platform::openRead(dir / "copy");
    EXPECT_EQ(ChunkStream::hashFromMedium(copy.get(), 1 << 20, dir / "copy").sha256, copied.sha256);
}

// Where the file system has no holes the punch is refused: the skipped ranges read as the
// zeros it wrote, and the copy is whole.
TEST(ChunkStreamHolesTest, ARefusedPunchLeavesTheZerosWritten) {
    test::TempDir dir;
    const std::string source = dir / "source";
    makeSparse(source, 8 * MB, 64 * 1024);
    PunchRecorder recorder;
    recorder.refuse = true;
    platform::ScopedFileSystemCalls scoped(recorder);
    const auto copied = copyWith(source, dir / "copy", ChunkStream::Holes::zeroBlocks);
    EXPECT_EQ(recorder.punched.size(), 1u) << "punching stops at the first refusal";
    EXPECT_EQ(Checksum::sha256OfFile(dir / "copy", 1 << 20), copied.sha256);
    EXPECT_EQ(Checksum::sha256OfFile(source, 1 << 20), copied.sha256);
}

}  // namespace
}  // namespace keldwick
