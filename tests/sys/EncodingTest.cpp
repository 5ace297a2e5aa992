#include "sys/Encoding.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

namespace vm::sys {
namespace {

std::string U8(std::u8string_view s) {
    return std::string(s.begin(), s.end());
}

TEST(Encoding, Utf8AndBig5ToGbk) {
    EXPECT_EQ(Utf8ToGbk(U8(u8"资源目录")), "资源目录");
    EXPECT_EQ(Utf8ToGbk("a\xFF"
                        "b"),
              "a?b");
    EXPECT_EQ(Big5ToSimplifiedGbk("plain ascii 123"), "plain ascii 123");
    EXPECT_EQ(Big5ToSimplifiedGbk(""), "");
    // Traditional "資源" (Big5) becomes simplified "资源".
    const std::string big5 = text::Convert(U8(u8"資源下載"), "UTF-8", "CP950");
    ASSERT_FALSE(big5.empty());
    EXPECT_EQ(Big5ToSimplifiedGbk(big5), "资源下载");
    // A byte that starts no Big5 character becomes "?", and the rest survives.
    EXPECT_EQ(Big5ToSimplifiedGbk("x\xFFy"), "x?y");
}

} // namespace
} // namespace vm::sys
