#pragma once
// Window messages between processes. A window class that other programs may post to is an
// abstract datagram socket "<className>/<uid>"; each datagram is one 20-byte little-endian
// record: uint32 message, int64 wParam, int64 lParam.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vm::kernel {

struct MessageRecord {
    std::uint32_t message = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;

    bool operator==(const MessageRecord&) const = default;
};

constexpr std::size_t kMessageRecordSize = 20;

std::array<unsigned char, kMessageRecordSize> EncodeMessageRecord(const MessageRecord& record);
// Empty unless `bytes` is exactly one record.
std::optional<MessageRecord> DecodeMessageRecord(std::span<const unsigned char> bytes);

class MessageEndpoint {
public:
    // Binds "<className>/<uid>". Null when the name is already held (another instance owns the
    // class) or no socket can be made.
    static std::unique_ptr<MessageEndpoint> Create(std::string_view gbkClassName);

    // Readable when a record may be waiting; for the toolkit's socket notifier.
    int fd() const { return socket_; }

    // The next record, without blocking. Datagrams of the wrong size or from another user are
    // dropped on the way; empty when nothing valid is waiting.
    std::optional<MessageRecord> Receive();

    const std::string& abstractName() const { return abstractName_; }

private:
    struct Key {};

public:
    // Takes ownership of the bound socket.
    MessageEndpoint(Key, int socket, std::string abstractName)
        : socket_(socket), abstractName_(std::move(abstractName)) {}
    ~MessageEndpoint();
    MessageEndpoint(const MessageEndpoint&) = delete;
    MessageEndpoint& operator=(const MessageEndpoint&) = delete;

private:
    int socket_;
    std::string abstractName_;
};

// Posts one record to the endpoint of a window class. Never blocks: false when nobody holds the
// class or its queue is full.
bool PostMessageToClass(std::string_view gbkClassName, const MessageRecord& record);

// True while some process of this user holds an endpoint for the class.
bool ClassExists(std::string_view gbkClassName);

} // namespace vm::kernel
