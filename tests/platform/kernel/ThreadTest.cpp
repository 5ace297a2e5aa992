#include "platform/kernel/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace vm::kernel {
namespace {

// <chrono> cannot be compiled with GBK literals (it spells "\u00b5s"); ticks will do.
std::uint32_t MsSince(std::uint32_t start) {
    return TickCount() - start;
}

class PumpTest : public ::testing::Test {
protected:
    void TearDown() override { SetMessagePump({}); }
};

TEST_F(PumpTest, WaitRunsThePumpUntilTimeUp) {
    int calls = 0;
    int longest = 0;
    SetMessagePump([&](int maxWaitMs) {
        ++calls;
        longest = std::max(longest, maxWaitMs);
        EXPECT_GT(maxWaitMs, 0);
        Sleep(maxWaitMs);
    });
    const std::uint32_t start = TickCount();
    EXPECT_FALSE(WaitDispatching(60));
    EXPECT_GE(MsSince(start), 59u); // ticks truncate to whole milliseconds
    EXPECT_GT(calls, 1);
    // The pump must come back often enough to notice a condition changed by another thread.
    EXPECT_LE(longest, 5);
}

TEST_F(PumpTest, WaitEndsWhenDoneTurnsTrueInAHandler) {
    int calls = 0;
    SetMessagePump([&](int) { ++calls; });
    EXPECT_TRUE(WaitDispatching(5000, [&] { return calls == 3; }));
    EXPECT_EQ(calls, 3);
    // Already done: no dispatching at all.
    EXPECT_TRUE(WaitDispatching(5000, [] { return true; }));
    EXPECT_EQ(calls, 3);
}

TEST_F(PumpTest, HandlerMayRemoveThePumpWhileItRuns) {
    int calls = 0;
    SetMessagePump([&](int) {
        ++calls;
        SetMessagePump({});
    });
    EXPECT_FALSE(WaitDispatching(30));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(HasMessagePump());
}

TEST_F(PumpTest, PumpBelongsToItsThread) {
    SetMessagePump([](int) {});
    bool otherHasPump = true;
    Thread other = StartThread([&] { otherHasPump = HasMessagePump(); });
    ASSERT_TRUE(other.Join());
    EXPECT_FALSE(otherHasPump);
    EXPECT_TRUE(HasMessagePump());
}

TEST(WaitDispatching, WithoutPumpSleepsAndSeesOtherThreads) {
    std::atomic<bool> flag = false;
    Thread setter = StartThread([&] {
        Sleep(30);
        flag = true;
    });
    const std::uint32_t start = TickCount();
    EXPECT_TRUE(WaitDispatching(-1, [&] { return flag.load(); }));
    EXPECT_GE(MsSince(start), 25u);
    EXPECT_LT(MsSince(start), 2000u);
    setter.Join();
}

TEST(Event, AutoResetLetsOneWaiterThroughPerSet) {
    Event event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));

    Event initiallySet(false, true);
    EXPECT_TRUE(initiallySet.Wait(0));
    EXPECT_FALSE(initiallySet.IsSet());
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event event(true);
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    const std::uint32_t start = TickCount();
    EXPECT_FALSE(event.Wait(40));
    EXPECT_GE(MsSince(start), 39u);
}

TEST(Event, SetFromAnotherThreadWakesWaiter) {
    Event event;
    Thread setter = StartThread([&] {
        Sleep(20);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(5000));
    setter.Join();
}

TEST(Thread, HandleWaitsJoinsAndMoves) {
    Event release(true);
    std::atomic<int> ran = 0;
    Thread first = StartThread([&] {
        release.Wait();
        ++ran;
    });
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(first.Wait(20));

    Thread moved = std::move(first);
    EXPECT_FALSE(first.valid());
    release.Set();
    EXPECT_TRUE(moved.Wait(5000));
    EXPECT_TRUE(moved.Join());
    EXPECT_FALSE(moved.valid());
    EXPECT_FALSE(moved.Join());
    EXPECT_EQ(ran, 1);

    EXPECT_FALSE(StartThread({}).valid());
}

TEST(Thread, DroppedHandleLeavesThreadRunning) {
    auto done = std::make_shared<Event>(true);
    {
        Thread dropped = StartThread([done] {
            Sleep(20);
            done->Set();
        });
    }
    EXPECT_TRUE(done->Wait(5000));
}

TEST(TickCount, AdvancesInMilliseconds) {
    const std::uint32_t before = TickCount();
    Sleep(50);
    const std::uint32_t elapsed = TickCount() - before; // unsigned: survives the wrap
    EXPECT_GE(elapsed, 45u);
    EXPECT_LT(elapsed, 2000u);
}

} // namespace
} // namespace vm::kernel
