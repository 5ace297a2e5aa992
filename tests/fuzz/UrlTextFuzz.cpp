// libFuzzer target: the URL and cookie texts of the request routines on hostile bytes. The
// input is split at its first zero byte into a URL-like text and a cookie text.

#include "net/UrlText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string_view url = input.substr(0, zero);
    const std::string_view rest = zero == std::string_view::npos ? "" : input.substr(zero + 1);

    Require(vm::net::HostOfUrl(url, false).size() <= url.size());
    Require(vm::net::HostOfUrl(url, true).size() <= url.size());
    Require(vm::net::UrlHostName(url).size() <= url.size());
    Require(vm::net::UrlObjectPath(url).size() <= url.size() + 1);
    const int port = vm::net::UrlPort(url);
    Require(port >= 0);
    Require(vm::net::CutBetween(url, "id_", ".htm").size() <= url.size());
    const std::string_view left = rest.substr(0, 4);
    const std::string_view right = rest.substr(left.size(), 4);
    Require(vm::net::CutBetween(url, left, right, true).size() <= url.size());
    Require(vm::net::TextBefore(url, "?").size() <= url.size());

    std::string base(url);
    std::string update(rest);
    vm::net::MergeCookies(base, update);
    // Merging the result into itself changes nothing more.
    std::string again = base;
    std::string same = base;
    vm::net::MergeCookies(again, same);
    return 0;
}
