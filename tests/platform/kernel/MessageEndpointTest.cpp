#include "platform/kernel/MessageEndpoint.h"
#include "ChildProcess.h"
#include "platform/kernel/AbstractName.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <vector>

namespace vm::kernel {
namespace {

using Bytes = std::vector<unsigned char>;

std::string UniqueClass(const std::string& what) {
    return "VelumTest-" + what + "-" + std::to_string(::getpid());
}

// Sends raw bytes to a class the way any foreign program could.
bool SendRaw(const std::string& className, const void* data, std::size_t size) {
    const UniqueFd socket = OpenDatagramSocket(true);
    const AbstractAddress address = MakeAbstractAddress(AbstractNameFor(className));
    return ::sendto(socket.get(), data, size, 0, address.get(), address.length) ==
           static_cast<ssize_t>(size);
}

std::optional<MessageRecord> ReceiveWithin(MessageEndpoint& endpoint, int ms) {
    std::optional<MessageRecord> record;
    WaitDispatching(ms, [&] { return (record = endpoint.Receive()).has_value(); });
    return record;
}

int OpenDescriptorCount() {
    int count = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    while (folder != nullptr && ::readdir(folder) != nullptr)
        ++count;
    ::closedir(folder);
    return count;
}

struct WireCase {
    MessageRecord record;
    Bytes bytes;
};

TEST(MessageRecord, WireFormatIsTwentyBytesLittleEndian) {
    const std::vector<WireCase> cases = {
        {{16, 0, 0}, {16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {{48360, 3, 0}, {0xE8, 0xBC, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {{0x0112, 0xF120, -1}, {0x12, 0x01, 0,    0,    0x20, 0xF1, 0,    0,    0,    0,
                                0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {{0xFFFFFFFF, -1, 0x0102030405060708},
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF, 0xFF, 8,    7,    6,    5,    4,    3,    2,    1}},
    };
    for (const WireCase& c : cases) {
        const auto encoded = EncodeMessageRecord(c.record);
        EXPECT_EQ(Bytes(encoded.begin(), encoded.end()), c.bytes);
        EXPECT_EQ(DecodeMessageRecord(c.bytes), c.record);
    }
    EXPECT_FALSE(DecodeMessageRecord(Bytes(19)));
    EXPECT_FALSE(DecodeMessageRecord(Bytes(21)));
}

TEST(MessageEndpoint, OneHolderPerClass) {
    const std::string name = UniqueClass("one");
    EXPECT_FALSE(ClassExists(name));
    {
        const auto endpoint = MessageEndpoint::Create(name);
        ASSERT_TRUE(endpoint);
        EXPECT_EQ(endpoint->abstractName(), name + "/" + std::to_string(::getuid()));
        EXPECT_TRUE(ClassExists(name));
        EXPECT_FALSE(MessageEndpoint::Create(name));
        EXPECT_FALSE(endpoint->Receive());
        const int flags = ::fcntl(endpoint->fd(), F_GETFD);
        EXPECT_TRUE(flags & FD_CLOEXEC);
    }
    EXPECT_FALSE(ClassExists(name));
    EXPECT_TRUE(MessageEndpoint::Create(name));
}

TEST(MessageEndpoint, RawRecordFromAnyProgramArrives) {
    const std::string name = UniqueClass("raw");
    const auto endpoint = MessageEndpoint::Create(name);
    ASSERT_TRUE(endpoint);
    const unsigned char notice[20] = {0xE8, 0xBC, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                      0xFF, 0xFF, 0, 0, 0,    0,    0,    0,    0,    0};
    ASSERT_TRUE(SendRaw(name, notice, sizeof notice));
    EXPECT_EQ(ReceiveWithin(*endpoint, 2000), (MessageRecord{48360, -1, 0}));
}

TEST(MessageEndpoint, WrongSizedDatagramsAreDropped) {
    const std::string name = UniqueClass("size");
    const auto endpoint = MessageEndpoint::Create(name);
    ASSERT_TRUE(endpoint);
    const unsigned char junk[64] = {1, 2, 3};
    for (const std::size_t size : {0, 1, 19, 21, 64})
        ASSERT_TRUE(SendRaw(name, junk, size)) << size;
    ASSERT_TRUE(PostMessageToClass(name, {7, 8, 9}));
    EXPECT_EQ(endpoint->Receive(), (MessageRecord{7, 8, 9}));
    EXPECT_FALSE(endpoint->Receive());
}

TEST(MessageEndpoint, PassedDescriptorsAreNeitherKeptNorLeaked) {
    const std::string name = UniqueClass("fds");
    const auto endpoint = MessageEndpoint::Create(name);
    ASSERT_TRUE(endpoint);
    const UniqueFd passed(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const auto bytes = EncodeMessageRecord({1, 2, 3});
    const int before = OpenDescriptorCount();
    for (int i = 0; i < 5; ++i) {
        iovec data{const_cast<unsigned char*>(bytes.data()), bytes.size()};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr header{};
        const AbstractAddress address = MakeAbstractAddress(endpoint->abstractName());
        header.msg_name = const_cast<sockaddr*>(address.get());
        header.msg_namelen = address.length;
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        const int fd = passed.get();
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
        const UniqueFd sender = OpenDatagramSocket(true);
        ASSERT_EQ(::sendmsg(sender.get(), &header, 0), static_cast<ssize_t>(bytes.size()));
    }
    ASSERT_TRUE(PostMessageToClass(name, {4, 5, 6}));
    // A record never carries descriptors: such datagrams are refused whole.
    EXPECT_EQ(endpoint->Receive(), (MessageRecord{4, 5, 6}));
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(MessageEndpoint, RecordsFromAnotherUserAreDropped) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to post as another user";
    const std::string name = UniqueClass("uid");
    const auto endpoint = MessageEndpoint::Create(name);
    ASSERT_TRUE(endpoint);
    const AbstractAddress address = MakeAbstractAddress(endpoint->abstractName());
    const auto bytes = EncodeMessageRecord({16, 0, 0});
    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls between fork and _exit: the parent has other threads.
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        const int socket = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        const bool sent = ::sendto(socket, bytes.data(), bytes.size(), 0, address.get(),
                                   address.length) == static_cast<ssize_t>(bytes.size());
        ::_exit(sent ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(PostMessageToClass(name, {1, 1, 1}));
    EXPECT_EQ(endpoint->Receive(), (MessageRecord{1, 1, 1}));
    EXPECT_FALSE(endpoint->Receive());
}

TEST(MessageEndpoint, SenderNeverBlocks) {
    const std::string name = UniqueClass("block");
    const std::uint32_t start = TickCount();
    // Nobody listens.
    EXPECT_FALSE(PostMessageToClass(name, {16, 0, 0}));
    // A listener that never reads: its queue fills and further posts fail at once.
    const auto endpoint = MessageEndpoint::Create(name);
    ASSERT_TRUE(endpoint);
    int taken = 0;
    for (int i = 0; i < 2000; ++i)
        taken += PostMessageToClass(name, {1, i, 0}) ? 1 : 0;
    EXPECT_GT(taken, 0);
    EXPECT_LT(taken, 2000);
    EXPECT_LT(TickCount() - start, 2000u);
    // What was taken arrives in order.
    for (int i = 0; i < taken; ++i)
        ASSERT_EQ(endpoint->Receive(), (MessageRecord{1, i, 0}));
}

TEST(MessageEndpoint, RecordsCrossProcessesInOrder) {
    const std::string name = UniqueClass("from");
    const auto endpoint = MessageEndpoint::Create(name);
    ASSERT_TRUE(endpoint);
    // Fewer than the kernel queues for a reader that is not reading yet (max_dgram_qlen).
    test::ChildProcess poster({KERNEL_HELPER, "post", name, "8"});
    ASSERT_EQ(poster.WaitExit(5000), 0);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(endpoint->Receive(),
                  (MessageRecord{static_cast<std::uint32_t>(1000 + i), i, -i}));
    EXPECT_FALSE(endpoint->Receive());
}

TEST(MessageEndpoint, ForeignWindowEchoesAndClosesOnWmClose) {
    const std::string window = UniqueClass("window");
    const std::string reply = UniqueClass("reply");
    const auto replies = MessageEndpoint::Create(reply);
    ASSERT_TRUE(replies);
    test::ChildProcess other({KERNEL_HELPER, "echo", window, reply});
    ASSERT_TRUE(WaitDispatching(5000, [&] { return ClassExists(window); }));

    for (int batch = 0; batch < 5; ++batch) {
        for (int i = 0; i < 8; ++i)
            ASSERT_TRUE(PostMessageToClass(window, {48360, batch * 8 + i, batch}));
        for (int i = 0; i < 8; ++i)
            ASSERT_EQ(ReceiveWithin(*replies, 5000), (MessageRecord{48360, batch * 8 + i, batch}));
    }
    ASSERT_TRUE(PostMessageToClass(window, {16, 0, 0}));
    EXPECT_EQ(other.WaitExit(5000), 0);
    EXPECT_FALSE(ClassExists(window));
    EXPECT_FALSE(PostMessageToClass(window, {16, 0, 0}));
}

} // namespace
} // namespace vm::kernel
