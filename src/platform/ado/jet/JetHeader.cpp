#include "platform/ado/jet/JetHeader.h"

#include "platform/text/Codepage.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace vm::ado::jet {
namespace {

constexpr std::size_t kHiddenStart = 0x18;
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kCreationDateOffset = 0x72;

// The whole days of the creation date, as Jet truncates them; a damaged date gives 0.
std::int32_t CreationDays(const std::uint8_t* header) {
    double date = 0;
    std::memcpy(&date, header + kCreationDateOffset, sizeof date);
    if (!std::isfinite(date) || date >= 2147483648.0 || date <= -2147483649.0)
        return 0;
    return static_cast<std::int32_t>(date);
}

} // namespace

void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data, std::size_t length) {
    std::array<std::uint8_t, 256> s{};
    for (std::size_t i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (std::size_t k = 0, i = 0, j = 0; k < length; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

HeaderCheck CheckHeader(std::string_view page0, std::string_view passwordGbk) {
    HeaderCheck result;
    static constexpr char kMagic[] = "\x00\x01\x00\x00Standard Jet DB";
    if (page0.size() < 2048 || std::memcmp(page0.data(), kMagic, sizeof kMagic) != 0) {
        result.error = page0.size() >= 20 && page0.substr(4, 15) == "Standard ACE DB"
                           ? "Unrecognized database format: Access 2007 and later files are "
                             "not supported."
                           : "Unrecognized database format: not an Access database.";
        return result;
    }
    const auto version = static_cast<unsigned char>(page0[0x14]);
    if (version > 1) {
        result.error = "Unrecognized database format: Jet version " + std::to_string(version) + ".";
        return result;
    }
    result.version = version == 0 ? JetVersion::Jet3 : JetVersion::Jet4;
    const std::size_t pageSize = result.version == JetVersion::Jet3 ? 2048 : 4096;
    if (page0.size() < pageSize) {
        result.error = "Unrecognized database format: the file is truncated.";
        return result;
    }

    std::array<std::uint8_t, 4096> header{};
    std::memcpy(header.data(), page0.data(), pageSize);
    static const std::uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(kKey, 4, header.data() + kHiddenStart, result.version == JetVersion::Jet3 ? 126 : 128);

    std::string expected;
    std::size_t storedSize = 20;
    if (result.version == JetVersion::Jet4) {
        storedSize = 40;
        for (char16_t c : text::GbkToUtf16(passwordGbk)) {
            expected.push_back(static_cast<char>(c & 0xFF));
            expected.push_back(static_cast<char>(c >> 8));
        }
        const auto days = static_cast<std::uint32_t>(CreationDays(header.data()));
        for (std::size_t i = 0; i < storedSize; ++i)
            header[kPasswordOffset + i] ^= static_cast<std::uint8_t>(days >> (8 * (i % 4)));
    } else {
        expected = passwordGbk;
    }
    const bool fits = expected.size() <= storedSize;
    expected.resize(storedSize, '\0');
    if (!fits || std::memcmp(header.data() + kPasswordOffset, expected.data(), storedSize) != 0) {
        result.error = "Not a valid password.";
        return result;
    }
    result.ok = true;
    return result;
}

std::string CheckPageOne(std::string_view firstPages, JetVersion version) {
    const std::size_t pageSize = version == JetVersion::Jet3 ? 2048 : 4096;
    if (firstPages.size() < 2 * pageSize)
        return "Unrecognized database format: the file is truncated.";
    // Page types: 1 data, 2 table definition, 3 and 4 index, 5 usage map. Page 0 alone is
    // the database definition (type 0).
    const auto type = static_cast<unsigned char>(firstPages[pageSize]);
    if (type < 1 || type > 5)
        return "The database is damaged: page 1 is not a page of the database.";
    return {};
}

} // namespace vm::ado::jet
