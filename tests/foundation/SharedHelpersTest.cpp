#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/AtomicFile.h"
#include "foundation/Date.h"
#include "foundation/POSIXFailure.h"
#include "foundation/Utf8.h"
#include "support/TempDir.h"

using namespace keldwick;

TEST(DateTest, ISO8601RoundTripsWholeSecondsInUTC) {
    Date d{1714564800.75};
    EXPECT_EQ(d.iso8601(), "2024-05-01T12:00:00Z");
    EXPECT_EQ(Date::parseISO8601("2024-05-01T12:00:00Z")->secondsSince1970, 1714564800.0);
    EXPECT_EQ(Date::parseISO8601("2024-05-01T14:00:00+02:00")->secondsSince1970, 1714564800.0);
    EXPECT_DOUBLE_EQ(Date::parseISO8601("2024-05-01T12:00:00.5Z")->secondsSince1970, 1714564800.5);
    EXPECT_EQ(Date{-0.5}.iso8601(), "1969-12-31T23:59:59Z");
    EXPECT_FALSE(Date::parseISO8601("2024-05-01 12:00:00Z"));
    EXPECT_FALSE(Date::parseISO8601("2024-05-01T12:00:00"));
    EXPECT_FALSE(Date::parseISO8601("2024-13-01T12:00:00Z"));
    EXPECT_FALSE(Date::parseISO8601("2024-05-01T12:00:00Zjunk"));
}

TEST(DateTest, ReferenceDateIs2001) {
    EXPECT_EQ(Date::fromSecondsSince2001(0).iso8601(), "2001-01-01T00:00:00Z");
    EXPECT_DOUBLE_EQ(Date{1000000000.0}.secondsSince2001(), 1000000000.0 - 978307200.0);
}

TEST(Utf8Test, CutsWholeGraphemeClusters) {
    EXPECT_EQ(Utf8::truncatedToBytes(std::string(200, 'a'), 180).size(), 180u);
    std::string twoByte;
    for (int i = 0; i < 100; ++i) twoByte += "é";
    EXPECT_EQ(Utf8::truncatedToBytes(twoByte, 180).size(), 180u);
    // "e" + combining acute: cutting between the two would change the character.
    std::string text = std::string(179, 'a') + "e\xCC\x81";
    EXPECT_EQ(Utf8::truncatedToBytes(text, 180), std::string(179, 'a'));
    // Odd byte limit in a run of two-byte letters keeps whole letters.
    EXPECT_EQ(Utf8::truncatedToBytes(twoByte, 5).size(), 4u);
}

TEST(Utf8Test, ValidityCaseAndNormalisation) {
    EXPECT_TRUE(Utf8::isValid("Résumé"));
    EXPECT_FALSE(Utf8::isValid("bad\xFFname"));
    EXPECT_FALSE(Utf8::isValid("\xC3"));
    EXPECT_EQ(Utf8::replacingInvalid("Résumé"), "Résumé");
    EXPECT_EQ(Utf8::replacingInvalid("a\xFF" "b\xE2\x80"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(Utf8::lowercased("ÄBC.APP"), "äbc.app");
    EXPECT_EQ(Utf8::nfc("e\xCC\x81"), "\xC3\xA9");
    EXPECT_EQ(Utf8::nfc("bad\xFF"), "bad\xFF");
}

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

TEST(POSIXFailureTest, DescribesOperationPathAndSystemText) {
    POSIXFailure f("rmdir", "/Volumes/X/a", ENOTEMPTY);
    EXPECT_EQ(f.description(), "rmdir failed for /Volumes/X/a: Directory not empty");
    EXPECT_EQ(f.code(), ENOTEMPTY);
}
