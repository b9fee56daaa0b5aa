#include <gtest/gtest.h>

#include "foundation/Utf8.h"

using namespace keldwick;

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
