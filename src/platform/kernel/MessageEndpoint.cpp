#include "platform/kernel/MessageEndpoint.h"

#include "platform/kernel/AbstractName.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace vm::kernel {
namespace {

void PutLittleEndian(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t GetLittleEndian(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return value;
}

// The sender's uid as the kernel reports it; empty when no credentials came along. Descriptors
// a sender may have passed along are closed: a record never carries any.
std::optional<uid_t> SenderUid(msghdr& header) {
    std::optional<uid_t> uid;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials;
            std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            uid = credentials.uid;
        } else if (c->cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int passed;
                std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
                ::close(passed);
            }
        }
    }
    return uid;
}

} // namespace

std::array<unsigned char, kMessageRecordSize> EncodeMessageRecord(const MessageRecord& record) {
    std::array<unsigned char, kMessageRecordSize> bytes{};
    PutLittleEndian(bytes.data(), record.message, 4);
    PutLittleEndian(bytes.data() + 4, static_cast<std::uint64_t>(record.wParam), 8);
    PutLittleEndian(bytes.data() + 12, static_cast<std::uint64_t>(record.lParam), 8);
    return bytes;
}

std::optional<MessageRecord> DecodeMessageRecord(std::span<const unsigned char> bytes) {
    if (bytes.size() != kMessageRecordSize)
        return std::nullopt;
    MessageRecord record;
    record.message = static_cast<std::uint32_t>(GetLittleEndian(bytes.data(), 4));
    record.wParam = static_cast<std::int64_t>(GetLittleEndian(bytes.data() + 4, 8));
    record.lParam = static_cast<std::int64_t>(GetLittleEndian(bytes.data() + 12, 8));
    return record;
}

MessageEndpoint::~MessageEndpoint() {
    ::close(socket_);
}

std::unique_ptr<MessageEndpoint> MessageEndpoint::Create(std::string_view gbkClassName) {
    std::string name = AbstractNameFor(gbkClassName);
    UniqueFd socket = OpenDatagramSocket(true);
    if (!socket.valid())
        return nullptr;
    const int on = 1;
    if (::setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0)
        return nullptr;
    const AbstractAddress address = MakeAbstractAddress(name);
    if (::bind(socket.get(), address.get(), address.length) != 0)
        return nullptr;
    return std::make_unique<MessageEndpoint>(Key{}, socket.release(), std::move(name));
}

std::optional<MessageRecord> MessageEndpoint::Receive() {
    for (;;) {
        // One byte more than a record, so that a longer datagram shows as too long.
        unsigned char data[kMessageRecordSize + 1];
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(ucred))];
        iovec vector{data, sizeof data};
        msghdr header{};
        header.msg_iov = &vector;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t received = ::recvmsg(socket_, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        const std::optional<uid_t> sender = SenderUid(header);
        if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
            continue;
        if (!sender || *sender != ::getuid())
            continue;
        if (auto record = DecodeMessageRecord({data, static_cast<std::size_t>(received)}))
            return record;
    }
}

bool PostMessageToClass(std::string_view gbkClassName, const MessageRecord& record) {
    const UniqueFd socket = OpenDatagramSocket(true);
    if (!socket.valid())
        return false;
    const AbstractAddress address = MakeAbstractAddress(AbstractNameFor(gbkClassName));
    const auto bytes = EncodeMessageRecord(record);
    for (;;) {
        const ssize_t sent = ::sendto(socket.get(), bytes.data(), bytes.size(),
                                      MSG_DONTWAIT | MSG_NOSIGNAL, address.get(), address.length);
        if (sent == static_cast<ssize_t>(bytes.size()))
            return true;
        if (sent < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool ClassExists(std::string_view gbkClassName) {
    return AbstractNameTaken(AbstractNameFor(gbkClassName));
}

} // namespace vm::kernel
