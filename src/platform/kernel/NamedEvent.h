#pragma once
// Named events, used only for their existence (the single-instance check). An event is an
// abstract-namespace socket name held for the life of the object; when the process dies the
// kernel frees the name, so a crashed instance never leaves a stale lock behind.

#include <memory>
#include <string>
#include <string_view>

namespace vm::kernel {

class NamedEvent {
public:
    // True while some process of this user holds an event of that name. Looking does not
    // disturb the holder.
    static bool Exists(std::string_view gbkName);

    // Takes the name; null when another holder has it or no socket can be made.
    static std::unique_ptr<NamedEvent> Create(std::string_view gbkName);

    const std::string& abstractName() const { return abstractName_; }

private:
    struct Key {};

public:
    // Takes ownership of the bound socket.
    NamedEvent(Key, int socket, std::string abstractName)
        : socket_(socket), abstractName_(std::move(abstractName)) {}
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

private:
    int socket_;
    std::string abstractName_;
};

} // namespace vm::kernel
