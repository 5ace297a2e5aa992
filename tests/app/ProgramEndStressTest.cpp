// The real program closed at random moments: while the web page loads, while the server check
// fetches, while its message box is open, with the forum unreachable or answering. Every start
// must end with exit code 0 and no signal. VM_PROGRAM_STRESS_STARTS sets the number of starts
// (20 by default, so that CI stays within a few minutes; the release check runs 100 and more).

#include "platform/kernel/MessageEndpoint.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace vm::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::GbkFromUtf8;
using testing::TempFolder;
using testing::TestForum;
using testing::WriteBytes;

// The exit status of a started program.
struct Ending {
    bool ended = false;
    int code = -1;  // when it exited
    int signal = 0; // when a signal ended it
};

pid_t Start(const fs::path& program) {
    const std::string path = program.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

Ending WaitFor(pid_t pid, std::chrono::milliseconds limit) {
    for (const auto until = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(10ms)) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return {true, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                    WIFSIGNALED(status) ? WTERMSIG(status) : 0};
    }
    return {};
}

int Starts() {
    const char* text = std::getenv("VM_PROGRAM_STRESS_STARTS");
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 20;
}

void ServeInformation(TestForum& forum) {
    forum.SetEntry(GbkFromUtf8(u8"版本号"), "1");
    forum.SetEntry(GbkFromUtf8(u8"程序版本"), GbkFromUtf8(u8"1.4 测试版"));
    forum.SetEntry(GbkFromUtf8(u8"下载引擎版本"), "1");
    forum.SetEntry(GbkFromUtf8(u8"下载引擎地址"), forum.FilePage("engine"));
    forum.SetEntry(GbkFromUtf8(u8"数据库版本"), "1");
    // No catalogue in the folder: the check offers to fetch it with a message box, and the
    // archive it fetches does not exist.
    forum.SetEntry(GbkFromUtf8(u8"数据库地址"), forum.FilePage("db"));
}

TEST(ProgramEnd, EveryStartClosedAtARandomMomentEndsWithCodeZero) {
    if (getenv("DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Pages the program opens in the user's browser go nowhere.
    setenv("VM_OPENER", "/bin/true", 1);
    // Another copy of this user's program (a test that ends it) may still be going.
    for (int wait = 0; wait < 600 && kernel::ClassExists("Velum"); ++wait)
        std::this_thread::sleep_for(100ms);
    ASSERT_FALSE(kernel::ClassExists("Velum")) << "another instance is running for this user";
    TestForum forum;
    ServeInformation(forum);

    std::mt19937 random(std::random_device{}());
    const int starts = Starts();
    int ended = 0;
    for (int i = 0; i < starts; ++i) {
        const bool withForum = i % 2 == 1;
        // From the window's first moment to well after the check has shown its message box.
        const auto delay = std::chrono::milliseconds(random() % 4000);
        SCOPED_TRACE("start " + std::to_string(i) + (withForum ? ", forum" : ", no forum") +
                     ", closed after " + std::to_string(delay.count()) + " ms");
        TempFolder folder("vm-end");
        const fs::path program = folder / "vellumark";
        fs::copy_file(VELLUMARK_EXECUTABLE, program);
        fs::create_directories(folder / "set");
        if (withForum) {
            forum.WriteEndpoints(folder.path());
        } else {
            // A loopback address nobody listens on; its own host keeps the instance event apart
            // from any other copy of the program run by this user.
            const std::string host = "http://127.0.0." + std::to_string(2 + random() % 250) + ":9";
            WriteBytes(folder / "set" / "Endpoints.ini",
                       "[endpoints]\r\nforum=" + host + "\r\ninfo_primary=" + host +
                           "/a\r\ninfo_fallback=" + host + "/b\r\n");
        }

        const pid_t pid = Start(program);
        ASSERT_GT(pid, 0);
        // Until the main window listens, or the program ended by itself.
        Ending early;
        for (int wait = 0; wait < 1200 && !early.ended && !kernel::ClassExists("Velum"); ++wait)
            early = WaitFor(pid, 50ms);
        if (early.ended) {
            EXPECT_EQ(early.signal, 0) << strsignal(early.signal);
            EXPECT_EQ(early.code, 0);
            ended += early.signal == 0 && early.code == 0;
            continue;
        }
        if (!kernel::ClassExists("Velum")) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            ADD_FAILURE() << "the main window never appeared";
            continue;
        }
        std::this_thread::sleep_for(delay);
        // The program may have ended by itself in the meantime (no server information).
        kernel::PostMessageToClass("Velum", {16, 0, 0});
        const Ending ending = WaitFor(pid, 60s);
        if (!ending.ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        EXPECT_TRUE(ending.ended) << "still running a minute after WM_CLOSE";
        EXPECT_EQ(ending.signal, 0) << strsignal(ending.signal);
        EXPECT_EQ(ending.code, 0);
        ended += ending.ended && ending.signal == 0 && ending.code == 0;
        // The next start must not meet this one's window or instance event.
        for (int wait = 0; wait < 200 && kernel::ClassExists("Velum"); ++wait)
            std::this_thread::sleep_for(50ms);
    }
    std::printf("%d of %d starts ended cleanly\n", ended, starts);
}

} // namespace
} // namespace vm::app
