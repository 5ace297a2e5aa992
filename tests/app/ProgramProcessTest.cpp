// The real program as a user starts it: a copy of the executable in an empty folder, one
// instance only, and ended by a WM_CLOSE posted from outside.

#include "platform/kernel/MessageEndpoint.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace vm::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TempFolder;
using testing::WriteBytes;

class Process {
public:
    explicit Process(const fs::path& program) {
        const std::string path = program.string();
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            pid_ = -1;
    }
    ~Process() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit code once the process ended within `limit`; -1 when it is still running, -2
    // when it died from a signal.
    int WaitFor(std::chrono::milliseconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = status;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool WaitForFile(const fs::path& file, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (fs::exists(file) && fs::file_size(file) > 0)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(Program, FirstStartSecondInstanceAndPostedClose) {
    // The test host's own display, or none at all.
    if (getenv("DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TempFolder folder("vm-program");
    const fs::path program = folder / "vellumark";
    fs::copy_file(VELLUMARK_EXECUTABLE, program);
    // No request leaves the machine while the program runs here.
    fs::create_directories(folder / "set");
    WriteBytes(folder / "set" / "Endpoints.ini", "[endpoints]\r\nforum=http://127.0.0.1:9\r\n");
    ASSERT_FALSE(kernel::ClassExists("Velum")) << "another instance is running for this user";

    Process first(program);
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(WaitForFile(folder / "set" / "dt" / "list.htm", 60s));
    // The class endpoint appears once the created handler is through.
    for (int i = 0; i < 600 && !kernel::ClassExists("Velum"); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(kernel::ClassExists("Velum"));
    EXPECT_EQ(fs::file_size(folder / "set" / "dt" / "list.htm"), 2009u);
    EXPECT_EQ(fs::file_size(folder / "set" / "dt" / "down.gif"), 1880u);
    EXPECT_EQ(fs::file_size(folder / "set" / "dt" / "see.gif"), 1741u);
    EXPECT_EQ(fs::file_size(folder / "set" / "dt" / "look.gif"), 1895u);
    EXPECT_TRUE(fs::exists(folder / "set" / "Start.ini"));

    Process second(program);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.WaitFor(20s), 0);
    EXPECT_EQ(first.WaitFor(500ms), -1) << "the first instance must stay";

    ASSERT_TRUE(kernel::PostMessageToClass("Velum", {16, 0, 0}));
    EXPECT_EQ(first.WaitFor(30s), 0);
}

} // namespace
} // namespace vm::app
