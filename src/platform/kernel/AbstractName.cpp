#include "platform/kernel/AbstractName.h"

#include "platform/text/Codepage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vm::kernel {
namespace {

// sun_path minus the leading NUL that marks the abstract namespace.
constexpr std::size_t kMaxAbstractName = sizeof(sockaddr_un::sun_path) - 1;

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

} // namespace

std::string AbstractNameFor(std::string_view gbkName) {
    const std::string uidSuffix = "/" + std::to_string(::getuid());
    std::string name = text::GbkToUtf8(gbkName);
    if (name.size() + uidSuffix.size() > kMaxAbstractName) {
        char hashed[32];
        std::snprintf(hashed, sizeof hashed, "#%016llx",
                      static_cast<unsigned long long>(Fnv1a64(name)));
        name = hashed;
    }
    return name + uidSuffix;
}

AbstractAddress MakeAbstractAddress(std::string_view abstractName) {
    AbstractAddress result;
    result.address.sun_family = AF_UNIX;
    const std::size_t length = std::min(abstractName.size(), kMaxAbstractName);
    // sun_path[0] stays NUL; the name follows without a terminator and its length is exact.
    std::memcpy(result.address.sun_path + 1, abstractName.data(), length);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return result;
}

UniqueFd OpenDatagramSocket(bool nonBlocking) {
    const int flags = SOCK_DGRAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    return UniqueFd(::socket(AF_UNIX, flags, 0));
}

bool AbstractNameTaken(std::string_view abstractName) {
    const UniqueFd probe = OpenDatagramSocket(true);
    if (!probe.valid())
        return false;
    const AbstractAddress address = MakeAbstractAddress(abstractName);
    return ::connect(probe.get(), address.get(), address.length) == 0;
}

} // namespace vm::kernel
