#pragma once
// Names in the Linux abstract socket namespace that stand in for named kernel objects and
// window classes. The namespace is per network namespace, not per user, so every name carries
// the uid: "<name>/<uid>", the name in UTF-8.

#include "platform/kernel/UniqueFd.h"

#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>

namespace vm::kernel {

// The abstract name (without the leading NUL) for a GBK object name and the caller's uid.
// A name too long for sun_path becomes a stable hash of itself so that every process still
// agrees on it.
std::string AbstractNameFor(std::string_view gbkName);

struct AbstractAddress {
    sockaddr_un address{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

AbstractAddress MakeAbstractAddress(std::string_view abstractName);

// A close-on-exec datagram socket; `nonBlocking` adds SOCK_NONBLOCK.
UniqueFd OpenDatagramSocket(bool nonBlocking);

// True when a datagram socket is bound to the name. connect() only looks the name up, so the
// holder sees nothing.
bool AbstractNameTaken(std::string_view abstractName);

} // namespace vm::kernel
