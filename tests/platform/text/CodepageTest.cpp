#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

namespace vm::text {
namespace {

const std::string kChineseGbk = "\xD6\xD0\xCE\xC4";

std::string U8(std::u8string_view s) {
    return std::string(s.begin(), s.end());
}

TEST(Codepage, RoundTripsBetweenGbkUtf8AndUtf16) {
    EXPECT_EQ(GbkToUtf8(kChineseGbk), U8(u8"中文"));
    EXPECT_EQ(Utf8ToGbk(U8(u8"中文")), kChineseGbk);
    EXPECT_EQ(GbkToUtf16(kChineseGbk), u"中文");
    EXPECT_EQ(Utf16ToGbk(u"中文abc"), kChineseGbk + "abc");
    EXPECT_EQ(Gbk(u8"资源目录"), Utf8ToGbk(U8(u8"资源目录")));
    EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(Codepage, UnmappableAndInvalidInput) {
    // An emoji (written as bytes: GCC refuses it in a literal under a GBK exec charset) has no GBK
    // form and becomes "?" like the Windows converter's default char.
    EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80"
                        "b"),
              "a?b");
    EXPECT_EQ(Utf16ToGbk(std::u16string{u'x', 0xD83D, 0xDE00}),
              "x??"); // each surrogate half is one unmappable unit
    // Invalid UTF-8 bytes are replaced without losing the rest.
    EXPECT_EQ(Utf8ToGbk("a\xFF"
                        "b"),
              "a?b");
    // A truncated GBK pair at the end is dropped.
    EXPECT_EQ(GbkToUtf8("ab\xD6"), "ab");
    EXPECT_EQ(Convert("x", "NO-SUCH-CODEPAGE", "UTF-8"), "");
}

TEST(Codepage, Big5ToGbkKeepsAscii) {
    EXPECT_EQ(Big5ToGbk("plain ascii"), "plain ascii");
    // Big5 "中" is A4 A4.
    EXPECT_EQ(Big5ToGbk("\xA4\xA4"), "\xD6\xD0");
}

} // namespace
} // namespace vm::text
