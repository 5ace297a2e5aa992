#pragma once
// UCS-2 to GBK through a table built once from iconv: a catalogue holds hundreds of thousands
// of short texts, and one iconv call per value costs more than reading them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ado::jet {

class GbkTable {
public:
    // Built on first use; thread-safe.
    static const GbkTable& Instance();

    // Plain UTF-16LE code units. Characters GBK lacks (and surrogate pairs) become "?";
    // U+0000 is dropped.
    void appendUcs2(const std::uint8_t* data, std::size_t size, std::string& out) const;
    // A Jet 4 text value: UTF-16LE, or the compressed form that starts with 0xFF 0xFE.
    void appendJetText(const std::uint8_t* data, std::size_t size, std::string& out) const;
    void appendUtf8(std::string_view utf8, std::string& out) const;

private:
    GbkTable();
    void appendUnit(char16_t unit, std::string& out) const;
    // Per code unit: 0 = drop, below 0x100 one byte, otherwise lead << 8 | trail.
    std::vector<std::uint16_t> map_;
};

} // namespace vm::ado::jet
