#include "platform/kernel/NamedEvent.h"

#include "platform/kernel/AbstractName.h"

namespace vm::kernel {

bool NamedEvent::Exists(std::string_view gbkName) {
    return AbstractNameTaken(AbstractNameFor(gbkName));
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
    return std::make_unique<NamedEvent>(Key{}, std::move(socket), std::move(name));
}

} // namespace vm::kernel
