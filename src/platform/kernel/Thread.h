#pragma once
// Threads, events and timed waits. Every wait of the program's own threads keeps dispatching
// that thread's messages: the GUI backend installs a message pump for its thread, and
// WaitDispatching runs it while waiting.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vm::kernel {

// A waitable event, set by one thread and waited on by others. A manual-reset event stays set
// until Reset; an auto-reset event lets exactly one waiter through per Set.
class Event {
public:
    explicit Event(bool manualReset = false, bool initiallySet = false)
        : manualReset_(manualReset), set_(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was set within `timeoutMs`; a negative timeout waits for ever.
    bool Wait(int timeoutMs = -1);
    bool IsSet() const;

private:
    const bool manualReset_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool set_;
};

// A handle to a started thread. The thread runs detached unless the handle is joined; the
// handle can also wait for the thread's end with a time limit.
class Thread {
public:
    Thread() = default;
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();

    bool valid() const { return thread_.joinable(); }
    explicit operator bool() const { return valid(); }

    // True when the thread has ended within `timeoutMs` (negative: for ever). The handle stays.
    bool Wait(int timeoutMs = -1) const;
    // Waits for the end and releases the handle; false for an invalid handle or the thread itself.
    bool Join();
    // Lets the thread run on without the handle.
    void Detach();

private:
    friend Thread StartThread(std::function<void()> procedure);

    std::thread thread_;
    std::shared_ptr<Event> finished_;
};

// Starts `procedure` on a new thread; an invalid handle when the thread cannot be created.
Thread StartThread(std::function<void()> procedure);

void Sleep(int ms);

// Milliseconds since an arbitrary fixed point (boot), wrapping at 2^32 like GetTickCount.
std::uint32_t TickCount();

// The message pump of the calling thread: processes pending messages, blocking at most
// `maxWaitMs` for one to arrive. An empty function removes it. Each thread has its own.
using MessagePump = std::function<void(int maxWaitMs)>;
void SetMessagePump(MessagePump pump);
bool HasMessagePump();

// Waits until `done()` is true (true) or `ms` have passed (false), running the calling thread's
// message pump meanwhile, or sleeping when the thread has none. Without `done` it waits the
// whole time and returns false. A negative `ms` waits for ever.
bool WaitDispatching(int ms, const std::function<bool()>& done = {});

} // namespace vm::kernel
