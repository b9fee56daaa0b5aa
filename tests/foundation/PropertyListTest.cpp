#include "foundation/PropertyList.h"

#include <gtest/gtest.h>

#include "support/BinaryPlist.h"

using namespace keldwick;
namespace bp = keldwick::test::BinaryPlist;

namespace {

std::string xmlNested(size_t depth) {
    std::string open, close;
    for (size_t i = 1; i < depth; ++i) {
        open += "<array>";
        close = "</array>" + close;
    }
    return "<?xml version=\"1.0\"?><!DOCTYPE plist><plist version=\"1.0\">" + open + close + "</plist>";
}

// Each level an array holding the next level twice: a few objects that expand to 2^levels.
std::string doubling(size_t levels) {
    std::vector<std::string> objects;
    for (size_t i = 0; i < levels; ++i) objects.push_back(bp::container(0xA0, {i + 1, i + 1}));
    objects.push_back(bp::ascii("x"));
    return bp::assemble(objects);
}

}  // namespace

TEST(PropertyListTest, BoundsRefuseWhatTheParserCantSurvive) {
    const std::string dictionary = bp::dictionary({{"name", std::string("Phone")}, {"state", uint8_t{1}}});
    std::string badReference = dictionary;
    badReference[9] = '\x7F';  // the first key's reference, now past the last object
    std::string badTable = dictionary;
    badTable[badTable.size() - 1] = '\xFF';  // the offset table's place, beyond the trailer
    struct Case {
        std::string name;
        std::string bytes;
        bool within;
    } cases[] = {
        {"binary dictionary", dictionary, true},
        {"binary at the depth limit", bp::nestedArrays(PropertyList::kMaxDepth), true},
        {"binary past the depth limit", bp::nestedArrays(PropertyList::kMaxDepth + 1), false},
        {"binary array holding itself", bp::assemble({bp::container(0xA0, {0})}), false},
        {"binary cycle through a dictionary",
         bp::assemble({bp::container(0xD0, {1, 2}), bp::ascii("k"), bp::container(0xA0, {0})}), false},
        {"binary shared objects within the node limit", doubling(19), true},
        {"binary shared objects past the node limit", doubling(40), false},
        {"binary reference past the objects", badReference, false},
        {"binary offset table outside the bytes", badTable, false},
        {"binary length past the end", bp::assemble({bp::marker(0xA0, 1000)}), false},
        {"binary trailer cut short", "bplist00\xA0", false},
        {"XML at the depth limit", xmlNested(PropertyList::kMaxDepth), true},
        {"XML past the depth limit", xmlNested(PropertyList::kMaxDepth + 1), false},
        {"XML nesting hidden behind a stray closing tag", "<plist></dict><array><array>", false},
        {"XML comment and CDATA hold no elements",
         "<plist><!-- <array> --><string><![CDATA[<array>]]></string><true/></plist>", true},
        {"larger than the cap", std::string(PropertyList::kMaxBytes + 1, ' '), false},
    };
    for (const auto& c : cases) EXPECT_EQ(PropertyList::isWithinBounds(c.bytes), c.within) << c.name;
}

TEST(PropertyListTest, StringsAreReadWholeAndRefusedWithANul) {
    const auto root = PropertyList::parseDictionary(bp::dictionary({
        {"plain", std::string("Ann's iPhone")},
        {"wide", std::u16string(u"Caf\u00e9 \u263A")},
        {"nul", std::u16string{u'A', u'\0', u'B'}},
        {"number", uint8_t{4}},
        {"when", 0.5},
    }));
    ASSERT_TRUE(root);
    EXPECT_EQ(PropertyList::stringValue(root, "plain"), "Ann's iPhone");
    EXPECT_EQ(PropertyList::stringValue(root, "wide"), "Caf\u00e9 \u263A");
    EXPECT_EQ(PropertyList::stringValue(root, "nul"), std::nullopt);
    EXPECT_EQ(PropertyList::stringValue(root, "number"), std::nullopt);
    EXPECT_EQ(PropertyList::stringValue(root, "missing"), std::nullopt);
    ASSERT_TRUE(PropertyList::dateValue(root, "when"));
    EXPECT_DOUBLE_EQ(PropertyList::dateValue(root, "when")->secondsSince2001(), 0.5);
    EXPECT_EQ(PropertyList::dateValue(root, "plain"), std::nullopt);
    EXPECT_FALSE(PropertyList::parseDictionary(bp::nestedArrays(2)));  // not a dictionary
    EXPECT_FALSE(PropertyList::stringValue(nullptr, "plain"));
}
