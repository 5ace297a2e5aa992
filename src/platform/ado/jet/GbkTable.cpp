#include "platform/ado/jet/GbkTable.h"

#include "platform/text/Codepage.h"

namespace vm::ado::jet {
namespace {

bool IsSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

} // namespace

const GbkTable& GbkTable::Instance() {
    static const GbkTable table;
    return table;
}

GbkTable::GbkTable() : map_(0x10000, '?') {
    // GBK has about 22,000 two-byte codes: convert them all in one call, each followed by a
    // newline so that a code iconv refuses (and drops) cannot shift the ones after it.
    std::string codes;
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            if (trail != 0x7F) {
                codes.push_back(static_cast<char>(lead));
                codes.push_back(static_cast<char>(trail));
                codes.push_back('\n');
            }
    const std::u16string units = text::GbkToUtf16(codes);
    std::size_t code = 0;
    char16_t pending = 0;
    for (char16_t unit : units) {
        if (unit != u'\n') {
            pending = unit;
            continue;
        }
        // The code this newline ends: count newlines to know which one it was.
        const std::size_t lead = 0x81 + code / 190, column = code % 190;
        const std::size_t trail = 0x40 + column + (column >= 0x3F ? 1 : 0);
        if (pending != 0 && map_[pending] == '?' && !IsSurrogate(pending))
            map_[pending] = static_cast<std::uint16_t>(lead << 8 | trail);
        pending = 0;
        ++code;
    }
    for (char16_t c = 1; c < 0x80; ++c)
        map_[c] = static_cast<std::uint16_t>(c);
    // Code page 936's one single byte above ASCII.
    const std::string euro = text::Utf16ToGbk(u"\u20AC");
    if (euro.size() == 1)
        map_[0x20AC] = static_cast<unsigned char>(euro[0]);
    map_[0] = 0;
}

void GbkTable::appendUnit(char16_t unit, std::string& out) const {
    const std::uint16_t code = map_[unit];
    if (code >= 0x100) {
        out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
    } else if (code != 0) {
        out.push_back(static_cast<char>(code));
    }
}

void GbkTable::appendUcs2(const std::uint8_t* data, std::size_t size, std::string& out) const {
    // A GBK text is never longer than its UTF-16: write into room made once.
    const std::size_t start = out.size();
    out.resize(start + size);
    char* p = out.data() + start;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
            const auto next = static_cast<char16_t>(data[i + 2] | data[i + 3] << 8);
            if (next >= 0xDC00 && next <= 0xDFFF)
                i += 2; // one "?" for the pair
        }
        const std::uint16_t code = map_[unit];
        if (code >= 0x100) {
            *p++ = static_cast<char>(code >> 8);
            *p++ = static_cast<char>(code & 0xFF);
        } else if (code != 0) {
            *p++ = static_cast<char>(code);
        }
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

void GbkTable::appendJetText(const std::uint8_t* data, std::size_t size, std::string& out) const {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xFE) {
        appendUcs2(data, size, out);
        return;
    }
    // Compressed: single bytes are characters below U+0100, a 0x00 byte switches to byte pairs
    // and back.
    bool single = true;
    std::size_t i = 2;
    while (i < size) {
        if (data[i] == 0) {
            single = !single;
            ++i;
        } else if (single) {
            appendUnit(data[i], out);
            ++i;
        } else if (i + 1 < size) {
            const std::size_t run = i;
            while (i + 1 < size && data[i] != 0)
                i += 2;
            appendUcs2(data + run, i - run, out);
        } else {
            break;
        }
    }
}

void GbkTable::appendUtf8(std::string_view utf8, std::string& out) const {
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (b >= 0x80 && b < 0xC0)
            len = 1;
        if (i + len > utf8.size())
            break;
        std::uint32_t cp = len == 1 ? b : b & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        if (b >= 0x80 && b < 0xC0)
            out.push_back('?');
        else
            appendUnit(cp <= 0xFFFF && !IsSurrogate(static_cast<char16_t>(cp))
                           ? static_cast<char16_t>(cp)
                           : u'?',
                       out);
    }
}

} // namespace vm::ado::jet
