// The UCS-2 to GBK table and the header's password check on hand-made Jet 3 headers.

#include "platform/ado/jet/GbkTable.h"
#include "platform/ado/jet/JetHeader.h"

#include "JetTestSupport.h"
#include "platform/text/Codepage.h"

#include <cstring>
#include <gtest/gtest.h>

namespace vm::ado::jet {
namespace {

using test::U8;

std::string Ucs2(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string JetText(const std::string& bytes) {
    std::string out;
    GbkTable::Instance().appendJetText(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                       bytes.size(), out);
    return out;
}

// The table must agree with iconv's own conversion for every BMP character. (Through
// appendUcs2: as Jet text, U+FEFF alone would be the compression marker.)
TEST(GbkTable, AgreesWithIconvOnEveryCharacter) {
    std::size_t differences = 0;
    for (char32_t c = 1; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const std::u16string one(1, static_cast<char16_t>(c));
        const std::string bytes = Ucs2(one);
        std::string gbk;
        GbkTable::Instance().appendUcs2(reinterpret_cast<const std::uint8_t*>(bytes.data()), 2,
                                        gbk);
        if (gbk != text::Utf16ToGbk(one))
            ++differences;
    }
    EXPECT_EQ(differences, 0u);
}

TEST(GbkTable, ReadsPlainAndCompressedJetText) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string gbk;
    } cases[] = {
        {"ascii", Ucs2(u"abc"), "abc"},
        {"chinese with U+4E00", Ucs2(u"一丁"), "\xD2\xBB\xB6\xA1"},
        {"euro", Ucs2(u"\u20AC"), "\x80"},
        {"surrogate pair is one ?", Ucs2(u"a\U0001F600b"), "a?b"},
        {"lone surrogate", Ucs2(u"a\xD800"), "a?"},
        {"nul dropped", Ucs2(std::u16string(u"a\0b", 3)), "ab"},
        {"odd trailing byte", Ucs2(u"ab") + "c", "ab"},
        {"compressed",
         "\xFF\xFE"
         "abc",
         "abc"},
        {"compressed switching",
         std::string("\xFF\xFE"
                     "ab\0\x2D\x4E\x87\x65\0c",
                     11),
         "ab\xD6\xD0\xCE\xC4"
         "c"},
        {"compressed latin-1", "\xFF\xFE\xE9", text::Utf8ToGbk(U8(u8"é"))},
        {"just the marker", "\xFF\xFE", ""},
        {"one byte", "\xFF", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JetText(c.bytes), c.gbk) << c.name;
}

TEST(GbkTable, ReadsUtf8Names) {
    std::string out;
    GbkTable::Instance().appendUtf8(U8(u8"修改时间 ID \U0001F600"), out);
    EXPECT_EQ(out, "修改时间 ID ?");
}

// A Jet 3 header: 2048 bytes, 126 hidden bytes, a 20-byte single-byte password, no mask.
std::string Jet3Header(const std::string& password) {
    std::string page(2048, '\0');
    std::memcpy(page.data(), "\x00\x01\x00\x00Standard Jet DB", 20);
    std::memcpy(page.data() + 0x42, password.data(), password.size());
    static const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(key, 4, reinterpret_cast<std::uint8_t*>(page.data()) + 0x18, 126);
    return page;
}

TEST(JetHeader, ChecksJet3Passwords) {
    struct Case {
        std::string stored, given;
        bool ok;
    } cases[] = {
        {"", "", true},
        {"secret", "secret", true},
        {"secret", "Secret", false},
        {"secret", "", false},
        {"", "secret", false},
        {"12345678901234567890", "12345678901234567890", true},
    };
    for (const Case& c : cases) {
        const HeaderCheck check = CheckHeader(Jet3Header(c.stored), c.given);
        EXPECT_EQ(check.ok, c.ok) << c.stored << " / " << c.given;
        EXPECT_EQ(check.version, JetVersion::Jet3);
    }
    EXPECT_FALSE(CheckHeader(Jet3Header("").substr(0, 2000), "").ok);
}

} // namespace
} // namespace vm::ado::jet
