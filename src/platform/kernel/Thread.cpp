#include "platform/kernel/Thread.h"

#include <chrono>
#include <system_error>
#include <time.h>

namespace vm::kernel {
namespace {

// How often a dispatching wait looks at its condition. Other threads change what `done` looks
// at without waking the pump, so the pump never blocks longer than this.
constexpr int kPollSliceMs = 5;

thread_local MessagePump tCurrentPump;

using Clock = std::chrono::steady_clock;

} // namespace

void Event::Set() {
    {
        const std::lock_guard lock(mutex_);
        set_ = true;
    }
    if (manualReset_)
        changed_.notify_all();
    else
        changed_.notify_one();
}

void Event::Reset() {
    const std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::IsSet() const {
    const std::lock_guard lock(mutex_);
    return set_;
}

bool Event::Wait(int timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto isSet = [this] { return set_; };
    if (timeoutMs < 0)
        changed_.wait(lock, isSet);
    else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet))
        return false;
    if (!manualReset_)
        set_ = false;
    return true;
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        Detach();
        thread_ = std::move(other.thread_);
        finished_ = std::move(other.finished_);
    }
    return *this;
}

Thread::~Thread() {
    Detach();
}

bool Thread::Wait(int timeoutMs) const {
    return finished_ && finished_->Wait(timeoutMs);
}

bool Thread::Join() {
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id())
        return false;
    thread_.join();
    finished_.reset();
    return true;
}

void Thread::Detach() {
    if (thread_.joinable())
        thread_.detach();
    finished_.reset();
}

Thread StartThread(std::function<void()> procedure) {
    Thread handle;
    if (!procedure)
        return handle;
    auto finished = std::make_shared<Event>(true);
    try {
        handle.thread_ = std::thread([procedure = std::move(procedure), finished] {
            procedure();
            finished->Set();
        });
    } catch (const std::system_error&) {
        return Thread();
    }
    handle.finished_ = std::move(finished);
    return handle;
}

void Sleep(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    else
        std::this_thread::yield();
}

std::uint32_t TickCount() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void SetMessagePump(MessagePump pump) {
    tCurrentPump = std::move(pump);
}

bool HasMessagePump() {
    return static_cast<bool>(tCurrentPump);
}

bool WaitDispatching(int ms, const std::function<bool()>& done) {
    const bool forever = ms < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : ms);
    for (;;) {
        if (done && done())
            return true;
        int slice = kPollSliceMs;
        if (!forever) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return false;
            slice = static_cast<int>(std::min<long long>(left, kPollSliceMs));
        }
        // A handler run by the pump may replace the pump; call the copy taken now.
        if (const MessagePump pump = tCurrentPump)
            pump(slice);
        else
            Sleep(slice);
    }
}

} // namespace vm::kernel
