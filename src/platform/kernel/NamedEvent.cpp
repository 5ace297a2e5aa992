#include "platform/kernel/NamedEvent.h"

#include "platform/kernel/AbstractName.h"

#include <unistd.h>

namespace vm::kernel {

bool NamedEvent::Exists(std::string_view gbkName) {
    return AbstractNameTaken(AbstractNameFor(gbkName));
}

NamedEvent::~NamedEvent() {
    ::close(socket_);
}

std::unique_ptr<NamedEvent> NamedEvent::Create(std::string_view gbkName) {
    std::string name = AbstractNameFor(gbkName);
    UniqueFd socket = OpenDatagramSocket(true);
    if (!socket.valid())
        return nullptr;
    const AbstractAddress address = MakeAbstractAddress(name);
    if (::bind(socket.get(), address.get(), address.length) != 0)
        return nullptr;
    // The socket is a marker, never a mailbox: refuse datagrams so nobody can fill its queue.
    ::shutdown(socket.get(), SHUT_RD);
    return std::make_unique<NamedEvent>(Key{}, socket.release(), std::move(name));
}

} // namespace vm::kernel
