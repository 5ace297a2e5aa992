#pragma once
// Page 0 of an .mdb file: format recognition and the database password check.

#include <cstdint>
#include <string>
#include <string_view>

namespace vm::ado::jet {

enum class JetVersion { Jet3, Jet4 };

struct HeaderCheck {
    bool ok = false;
    JetVersion version = JetVersion::Jet4;
    std::string error; // UTF-8
};

// The bytes a header page needs: 2048 for Jet 3, 4096 for Jet 4.
constexpr std::size_t kHeaderBytes = 4096;

// `page0` is the start of the file (at most kHeaderBytes). The password is compared exactly:
// Jet 4 stores it as UTF-16LE in 40 bytes at 0x42, masked with the creation date's whole days;
// Jet 3 in 20 single-byte characters.
HeaderCheck CheckHeader(std::string_view page0, std::string_view passwordGbk);

// Page 1 of the file, which every Jet database starts with its first data page (the usage
// maps): absent, or of no known page type (all zeros, the common damage), the file cannot be
// read, and the reader would only find that out by crashing. `firstPages` is the start of the
// file (at most kFirstPagesBytes). "" when page 1 looks sound, else the error (UTF-8).
constexpr std::size_t kFirstPagesBytes = 2 * kHeaderBytes;
std::string CheckPageOne(std::string_view firstPages, JetVersion version);

// RC4 as Jet uses it to hide the header (key C7 DA 39 6B).
void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data, std::size_t length);

} // namespace vm::ado::jet
