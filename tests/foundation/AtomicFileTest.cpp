#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/AtomicFile.h"
#include "platform/POSIXFailure.h"
#include "support/TempDir.h"

using namespace keldwick;

TEST(AtomicFileTest, ReplacesWholeAndReadsBack) {
    test::TempDir dir;
    const auto path = dir / "settings.json";
    AtomicFile::write(path, "first", 0600);
    AtomicFile::write(path, "second");
    EXPECT_EQ(AtomicFile::read(path), "second");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // No temporary file is left beside it.
    EXPECT_EQ(test::readFile(path), "second");
}

TEST(AtomicFileTest, ReadRefusesLinksSpecialFilesAndOversizedFiles) {
    test::TempDir dir;
    test::writeFile(dir / "big", std::string(100, 'x'));
    ASSERT_EQ(::symlink((dir / "big").c_str(), (dir / "link").c_str()), 0);
    EXPECT_THROW(AtomicFile::read(dir / "link"), POSIXFailure);
    try {
        AtomicFile::read(dir / "big", 10);
        FAIL();
    } catch (const POSIXFailure& e) {
        EXPECT_EQ(e.code(), EFBIG);
    }
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_THROW(AtomicFile::read(dir / "fifo"), POSIXFailure);
    EXPECT_THROW(AtomicFile::write(dir / "missing/x", "y"), POSIXFailure);
}
