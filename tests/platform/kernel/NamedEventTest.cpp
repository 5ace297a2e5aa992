#include "platform/kernel/NamedEvent.h"
#include "ChildProcess.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

namespace vm::kernel {
namespace {

std::string UniqueName(const std::string& what) {
    return "vm-test " + what + " " + std::to_string(::getpid());
}

TEST(NamedEvent, HeldUntilReleasedAndLookingDoesNotDisturb) {
    // GBK "中文" in the name: it reaches the kernel as UTF-8.
    const std::string name = UniqueName("\xD6\xD0\xCE\xC4");
    EXPECT_FALSE(NamedEvent::Exists(name));
    {
        const auto held = NamedEvent::Create(name);
        ASSERT_TRUE(held);
        EXPECT_NE(held->abstractName().find(text::GbkToUtf8("\xD6\xD0\xCE\xC4")),
                  std::string::npos);
        EXPECT_TRUE(held->abstractName().ends_with("/" + std::to_string(::getuid())));
        for (int i = 0; i < 50; ++i)
            ASSERT_TRUE(NamedEvent::Exists(name));
        EXPECT_FALSE(NamedEvent::Create(name));
    }
    EXPECT_FALSE(NamedEvent::Exists(name));
    EXPECT_TRUE(NamedEvent::Create(name));
}

TEST(NamedEvent, NamesTooLongForTheKernelStayDistinctAndStable) {
    const std::string stem(200, 'x');
    const std::string first = stem + "1 " + std::to_string(::getpid());
    const std::string second = stem + "2 " + std::to_string(::getpid());
    const auto held = NamedEvent::Create(first);
    ASSERT_TRUE(held);
    EXPECT_TRUE(NamedEvent::Exists(first));
    EXPECT_FALSE(NamedEvent::Exists(second));
    EXPECT_TRUE(NamedEvent::Create(second));
}

TEST(NamedEvent, SingleInstanceAcrossProcesses) {
    const std::string name = UniqueName("single");
    test::ChildProcess first({KERNEL_HELPER, "hold-event", text::GbkToUtf8(name)});
    ASSERT_GT(first.pid(), 0);
    ASSERT_TRUE(WaitDispatching(5000, [&] { return NamedEvent::Exists(name); }));
    // The second instance sees the first and cannot take the name.
    EXPECT_FALSE(NamedEvent::Create(name));

    // However the first ends, the kernel frees the name: no stale lock.
    first.Kill();
    ASSERT_TRUE(first.WaitExit(5000));
    EXPECT_FALSE(NamedEvent::Exists(name));
    EXPECT_TRUE(NamedEvent::Create(name));
}

} // namespace
} // namespace vm::kernel
