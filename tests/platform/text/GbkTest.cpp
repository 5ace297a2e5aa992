#include "platform/text/Gbk.h"

#include <gtest/gtest.h>

namespace vm::text {
namespace {

// "中文" in GBK: D6 D0 CE C4. "表" is B1 ED; "誠" ends in 0x5C in some code pages, and
// GBK "\x95\x5C" is a character whose trail byte is the backslash.
const std::string kChinese = "\xD6\xD0\xCE\xC4";
const std::string kTrailBackslash = "\x95\x5C";
const std::string kFullBlank = "\xA1\xA1";

struct FindCase {
    std::string text;
    std::string needle;
    int start;
    bool caseSensitive;
    int expected;
};

TEST(GbkFind, Table) {
    const std::vector<FindCase> cases = {
        {"Hello World", "world", 1, false, 7},
        {"Hello World", "world", 1, true, -1},
        {"Hello World", "o", 6, false, 8},
        {"abc", "", 1, false, -1},
        {"abc", "a", 0, false, -1},
        {"abc", "c", 4, false, -1},
        {"", "a", 1, false, -1},
        {kChinese + "abc", "ABC", 1, false, 5},
        // Start counts characters, not bytes: position 2 is the second Chinese character.
        {kChinese + "x" + kChinese, kChinese, 2, false, 6},
        // The trail byte 0x5C of a two-byte character is never a backslash.
        {"a" + kTrailBackslash + "b", "\\", 1, false, -1},
        {"a" + kTrailBackslash + "\\b", "\\", 1, false, 4},
        // A trail byte that looks like a letter does not fold.
        {"\x81\x41", "\x81\x61", 1, false, -1},
        // A needle must not match starting on a trail byte: D0 CE is the seam of "中文".
        {kChinese, "\xD0\xCE", 1, false, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Find(c.text, c.needle, c.start, c.caseSensitive), c.expected)
            << c.text << " / " << c.needle;
}

TEST(GbkSplit, KeepsMiddleEmptyPiecesAndDropsEmptyLast) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(Split("", "|"), Pieces{});
    EXPECT_EQ(Split("a", "|"), Pieces{"a"});
    EXPECT_EQ(Split("a|", "|"), Pieces{"a"});
    EXPECT_EQ(Split("a||b", "|"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(Split("|a", "|"), (Pieces{"", "a"}));
    EXPECT_EQ(Split("a||", "|"), (Pieces{"a", ""}));
    EXPECT_EQ(Split("aXXbxxc", "xx"), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(Split("C:\\" + kTrailBackslash + "\\d", "\\"), (Pieces{"C:", kTrailBackslash, "d"}));
}

TEST(GbkTrim, RemovesAsciiAndFullWidthBlanks) {
    EXPECT_EQ(Trim("  a b  "), "a b");
    EXPECT_EQ(Trim(kFullBlank + " x" + kFullBlank), "x");
    EXPECT_EQ(Trim(kFullBlank + kFullBlank), "");
    EXPECT_EQ(TrimStart("  x "), "x ");
    EXPECT_EQ(TrimEnd("  x "), "  x");
    // "\xB0\xA1" ends in A1 but is one character: only the blank after it goes.
    EXPECT_EQ(TrimEnd("\xB0\xA1\xA1\xA1 "), "\xB0\xA1");
    EXPECT_EQ(TrimStart("\xA1\xA1\xB0\xA1"), "\xB0\xA1");
}

TEST(GbkCharacters, CountAndHalfWidth) {
    EXPECT_EQ(CharCount(""), 0);
    EXPECT_EQ(CharCount("ab" + kChinese), 4);
    EXPECT_EQ(CharCount("\xD6"), 1); // a lone lead byte at the end is one character
    EXPECT_EQ(ToHalfWidth("\xA3\xC1\xA3\xE2\xA3\xB1" + kFullBlank + kChinese), "Ab1 " + kChinese);
    EXPECT_EQ(ToLowerAscii("ABC\x81\x41"), "abc\x81\x41");
    EXPECT_TRUE(EqualsNoCase("Up.EXE", "up.exe"));
    EXPECT_TRUE(EndsWithChar("Z:\\a\\", '\\'));
    EXPECT_FALSE(EndsWithChar("Z:\\a" + kTrailBackslash, '\\'));
    EXPECT_FALSE(EndsWithChar("", '\\'));
    EXPECT_FALSE(EqualsNoCase("up.ex", "up.exe"));
    // A trail byte in A..Z is folded here, never by EqualsNoCase.
    EXPECT_TRUE(EqualsFoldingEveryByte("Up\x81\x41", "uP\x81\x61"));
    EXPECT_FALSE(EqualsNoCase("Up\x81\x41", "uP\x81\x61"));
    EXPECT_FALSE(EqualsFoldingEveryByte("up.ex", "up.exe"));
    EXPECT_EQ(ReplaceAll("a b  c", " ", "\\[k]"), "a\\[k]b\\[k]\\[k]c");
}

} // namespace
} // namespace vm::text
