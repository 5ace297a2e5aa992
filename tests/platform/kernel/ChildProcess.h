#pragma once
// A child the test itself owns: started with posix_spawn, its exit status observable, killed
// and reaped when the test ends.

#include "platform/kernel/Thread.h"

#include <csignal>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vm::test {

class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv) {
        std::vector<char*> raw;
        for (std::string& argument : argv)
            raw.push_back(argument.data());
        raw.push_back(nullptr);
        if (::posix_spawn(&pid_, raw[0], nullptr, nullptr, raw.data(), environ) != 0)
            pid_ = 0;
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }

    // The exit code once it ended within `timeoutMs`; 128 + signal for a killed child.
    std::optional<int> WaitExit(int timeoutMs) {
        // <chrono> cannot be compiled with GBK literals (it spells "µs"); ticks will do.
        const std::uint32_t start = kernel::TickCount();
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (kernel::TickCount() - start >= static_cast<std::uint32_t>(timeoutMs))
                break;
            kernel::Sleep(5);
        }
        return status_;
    }

    void Kill() {
        if (pid_ > 0 && !status_)
            ::kill(pid_, SIGKILL);
    }

private:
    pid_t pid_ = 0;
    std::optional<int> status_;
};

} // namespace vm::test
