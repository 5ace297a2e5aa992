// A second process for the kernel tests.
//   hold-event <name>        takes the named event and waits to be killed
//   echo <class> <reply>     holds the class endpoint and posts every record back to <reply>;
//                            ends with code 0 on WM_CLOSE
//   post <class> <count>     posts records {1000+i, i, -i}; exit code 0 when all were taken
#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/NamedEvent.h"
#include "platform/text/Codepage.h"

#include <cstdlib>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

using namespace vm::kernel;

int HoldEvent(const std::string& name) {
    const auto event = NamedEvent::Create(vm::text::Utf8ToGbk(name));
    if (!event)
        return 3;
    for (;;)
        ::pause();
}

int Echo(const std::string& className, const std::string& reply) {
    const auto endpoint = MessageEndpoint::Create(vm::text::Utf8ToGbk(className));
    if (!endpoint)
        return 3;
    for (;;) {
        pollfd ready{endpoint->fd(), POLLIN, 0};
        if (::poll(&ready, 1, 10000) <= 0)
            return 4;
        while (const auto record = endpoint->Receive()) {
            if (record->message == 16)
                return 0;
            PostMessageToClass(vm::text::Utf8ToGbk(reply), *record);
        }
    }
}

int Post(const std::string& className, int count) {
    for (int i = 0; i < count; ++i) {
        const MessageRecord record{static_cast<std::uint32_t>(1000 + i), i, -i};
        if (!PostMessageToClass(vm::text::Utf8ToGbk(className), record))
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hold-event" && argc == 3)
        return HoldEvent(argv[2]);
    if (mode == "echo" && argc == 4)
        return Echo(argv[2], argv[3]);
    if (mode == "post" && argc == 4)
        return Post(argv[2], std::atoi(argv[3]));
    return 2;
}
