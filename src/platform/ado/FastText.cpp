#include "platform/ado/FastText.h"

#include "platform/text/Codepage.h"

#include <array>
#include <cstdint>
#include <iconv.h>
#include <memory>

namespace vm::ado {
namespace {

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// GBK bytes of every BMP code point (0 for none): high byte first, or a single byte.
class GbkTable {
public:
    GbkTable() : codes_(std::make_unique<std::array<std::uint16_t, 65536>>()) {
        codes_->fill(0);
        iconv_t cd = iconv_open("CP936", "UTF-16LE");
        if (cd == reinterpret_cast<iconv_t>(-1))
            return;
        for (std::uint32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
            if (cp >= 0xD800 && cp <= 0xDFFF)
                continue;
            char in[2] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)};
            char out[4];
            char* inPtr = in;
            char* outPtr = out;
            std::size_t inLeft = 2, outLeft = sizeof out;
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                continue;
            }
            const std::size_t n = sizeof out - outLeft;
            if (n == 1)
                (*codes_)[cp] = static_cast<unsigned char>(out[0]);
            else if (n == 2)
                (*codes_)[cp] = static_cast<std::uint16_t>(static_cast<unsigned char>(out[0]) << 8 |
                                                           static_cast<unsigned char>(out[1]));
        }
        iconv_close(cd);
    }
    std::uint16_t operator[](std::uint32_t cp) const { return (*codes_)[cp]; }

private:
    std::unique_ptr<std::array<std::uint16_t, 65536>> codes_;
};

const GbkTable& Table() {
    static const GbkTable table;
    return table;
}

} // namespace

std::string Utf8ToGbkFast(std::string_view utf8) {
    if (IsAscii(utf8))
        return std::string(utf8);
    const GbkTable& table = Table();
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || lead >= 0xF8 || i + length > utf8.size()) {
            ++i; // a stray continuation byte or a truncated sequence
            continue;
        }
        std::uint32_t cp = lead & (0x7F >> length);
        bool valid = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            if ((c & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = cp << 6 | (c & 0x3F);
        }
        if (!valid) {
            ++i;
            continue;
        }
        i += length;
        const std::uint16_t code = cp <= 0xFFFF ? table[cp] : 0;
        if (code == 0)
            out += '?';
        else if (code < 0x100)
            out += static_cast<char>(code);
        else {
            out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        }
    }
    return out;
}

std::string GbkToUtf8Fast(std::string_view gbk) {
    if (IsAscii(gbk))
        return std::string(gbk);
    return text::GbkToUtf8(gbk);
}

} // namespace vm::ado
