// The real up.exe, started the way the program starts it: downloads into the category folders
// with the notice to the main window's class, cloud-drive references through the scheduler,
// and the program update from main.7z.

#include "engine/Engine.h"
#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/Process.h"
#include "platform/text/Gbk.h"
#include "support/LoopbackHttp.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace vm::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::GbkFromUtf8;
using testing::HttpPeer;
using testing::LoopbackHttpServer;
using testing::ReadBytes;
using testing::ReceivedRequest;
using testing::TempFolder;
using testing::TestForum;
using testing::WriteBytes;

// A started program; killed and reaped when the object goes.
class Child {
public:
    Child(const fs::path& program, const std::vector<std::string>& arguments) {
        std::vector<std::string> all{program.string()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, all[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = 0;
    }
    ~Child() { Kill(); }
    void Kill() {
        if (pid_ > 0 && !code_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            code_ = -9;
        }
    }
    // Exit code, -1 while still running after `limit`, -2 after a signal.
    int Wait(std::chrono::milliseconds limit) {
        for (auto until = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
            int status = 0;
            if (code_)
                return *code_;
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                return *(code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2);
        }
        return -1;
    }

private:
    pid_t pid_ = 0;
    std::optional<int> code_;
};

void WriteScript(const fs::path& path, const std::string& text) {
    WriteBytes(path, text);
    fs::permissions(path, fs::perms::owner_all);
}

class EngineProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        fs::copy_file(UP_EXE, folder / "up.exe");
        forum.WriteEndpoints(folder.path());
        WriteBytes(folder / "set" / "Start.ini",
                   GbkFromUtf8(u8"[主窗口]\r\n下载方式=1\r\n下载打开=1\r\n下载关闭=1\r\n"));
        WriteScript(folder / "opener", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                           (folder / "opened.log").string() + "'\n");
        setenv("VM_OPENER", (folder / "opener").c_str(), 1);
        ASSERT_FALSE(kernel::ClassExists("Velum")) << "a main window of this user is running";
        window = kernel::MessageEndpoint::Create("Velum");
        ASSERT_NE(window, nullptr);
    }

    int RunEngine(const std::vector<std::string>& arguments) {
        Child engine(folder / "up.exe", arguments);
        return engine.Wait(60s);
    }

    // Records posted to the stand-in main window within `limit`, or until `count` arrived
    // and a moment passed in which more could have come.
    std::vector<kernel::MessageRecord> Posted(std::chrono::milliseconds limit, std::size_t count) {
        std::vector<kernel::MessageRecord> records;
        for (auto until = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
            while (auto record = window->Receive())
                records.push_back(*record);
            if (records.size() >= count)
                until = std::min(until, std::chrono::steady_clock::now() + 300ms);
        }
        return records;
    }

    // The response in 20 pieces over about a second.
    static void SendSlowly(HttpPeer& peer, const std::string& response) {
        const std::size_t piece = response.size() / 20 + 1;
        for (std::size_t at = 0; at < response.size(); at += piece) {
            peer.Send(std::string_view(response).substr(at, piece));
            peer.Stall(50);
        }
    }

    // A path below the folder as the engine's argument: a Windows path text in UTF-8.
    std::string Windows(std::u8string_view relative) const {
        std::string path =
            folder.windowsPath() +
            std::string(reinterpret_cast<const char*>(relative.data()), relative.size());
        for (char& c : path)
            if (c == '/')
                c = '\\';
        return path;
    }

    TempFolder folder{"vm-engine"};
    TestForum forum;
    std::unique_ptr<kernel::MessageEndpoint> window;
    const std::string body = std::string(200000, 'r') + "end";
    LoopbackHttpServer files{[this](const ReceivedRequest& request, HttpPeer& peer) {
        peer.Close();
        if (request.target == "/files/7.rar")
            peer.Send(LoopbackHttpServer::Response(200, "", body));
        else if (request.target == "/files/slow.rar")
            SendSlowly(peer, LoopbackHttpServer::Response(200, "", body));
        else if (request.target == "/files/expired.rar")
            peer.Send(LoopbackHttpServer::Response(200, "Content-Type: text/html\r\n",
                                                   "<html><body>file expired</body></html>"));
        else if (request.target == "/files/main.7z")
            peer.Send(LoopbackHttpServer::Response(200, "", mainArchive));
        else
            peer.Send(LoopbackHttpServer::Response(404, "", "no"));
    }};
    std::string mainArchive;
};

TEST_F(EngineProcessTest, DownloadFromTheProgramsCommandLinePostsTheNoticeAndOpensTheFolder) {
    // The command line exactly as the program builds it: GBK, blanks escaped, split by the
    // Windows rules and handed over as UTF-8 arguments.
    const std::string target =
        folder.windowsPath() + GbkFromUtf8(u8"资源目录\\网络 通信\\网页采集\\采集器 v2.0.rar");
    const std::string commandLine = folder.windowsPath() + "up.exe " + files.Url("/files/7.rar") +
                                    " " + text::ReplaceAll(target, " ", "\\[k]") + " 3";
    ASSERT_GT(kernel::StartProcess(commandLine), 0);

    const auto posted = Posted(30s, 1);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], (kernel::MessageRecord{kDownloadFinishedMessage, 3, 0}));
    const fs::path file =
        folder.path() / u8"资源目录" / u8"网络 通信" / u8"网页采集" / u8"采集器 v2.0.rar";
    EXPECT_EQ(ReadBytes(file), body);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1)
        << "only the file itself: no part, no record of the part";
    // 下载打开=1: the file's folder was opened.
    for (int i = 0; i < 100 && !fs::exists(folder / "opened.log"); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ReadBytes(folder / "opened.log"), file.parent_path().string() + "\n");
}

TEST_F(EngineProcessTest, CloudDriveReferencesGoThroughTheScheduler) {
    forum.SetFile("r7", "the file behind the cloud page");
    const fs::path target = folder.path() / u8"资源目录" / "a.rar";
    EXPECT_EQ(RunEngine({"kp,r7,7", Windows(u8"资源目录/a.rar"), "5"}), 0);
    EXPECT_EQ(ReadBytes(target), "the file behind the cloud page");
    const auto requests = forum.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/cdlsched/getdl?fid=r7&acc_params=entryid:r7,pickupCode:");
    EXPECT_EQ(requests[0].Header("Referer"), forum.FilePage("r7"));
    EXPECT_EQ(Posted(5s, 1).size(), 1u);
}

TEST_F(EngineProcessTest, ProgramUpdateClosesTheProgramReplacesItAndStartsItAgain) {
    const fs::path started = folder / "started.log";
    const std::string newProgram = "#!/bin/sh\necho new >> '" + started.string() + "'\n";
    ASSERT_TRUE(testing::MakeSevenZip(
        folder / "build.7z",
        {{"vellumark", newProgram, {}}, {"set/dt/extra.txt", "shipped with the update", {}}}));
    mainArchive = ReadBytes(folder / "build.7z");
    fs::remove(folder / "build.7z");
    // The running old program, which ends when its window gets WM_CLOSE.
    WriteScript(folder / "vellumark", "#!/bin/sh\nwhile :; do sleep 0.1; done\n");
    Child old(folder / "vellumark", {});
    for (int i = 0; i < 100 && !vm::kernel::ProcessSnapshot().empty(); ++i) {
        bool found = false;
        for (const auto& p : vm::kernel::ProcessSnapshot())
            found = found || p.exeFile == "vellumark";
        if (found)
            break;
        std::this_thread::sleep_for(20ms);
    }

    Child engine(folder / "up.exe", {files.Url("/files/main.7z"), Windows(u8"main.7z"), "-1"});
    bool closed = false;
    for (auto until = std::chrono::steady_clock::now() + 30s;
         !closed && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms))
        while (auto record = window->Receive())
            if (record->message == 16) {
                closed = true;
                old.Kill();
            }
    EXPECT_TRUE(closed) << "the engine asks the program to close";
    EXPECT_EQ(engine.Wait(60s), 0);
    for (int i = 0; i < 100 && !fs::exists(started); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(ReadBytes(started), "new\n") << "the new program was started";
    EXPECT_EQ(ReadBytes(folder / "vellumark"), newProgram);
    EXPECT_EQ(ReadBytes(folder / "set" / "dt" / "extra.txt"), "shipped with the update");
    EXPECT_FALSE(fs::exists(folder / "main.7z"));
    EXPECT_FALSE(fs::exists(folder / "~main.7z"));
}

TEST_F(EngineProcessTest, TwoEnginesForOneTargetLeaveTheServersExactBytes) {
    const std::vector<std::string> arguments = {files.Url("/files/slow.rar"),
                                                Windows(u8"资源目录/同一个.rar"), "2"};
    Child first(folder / "up.exe", arguments);
    Child second(folder / "up.exe", arguments);
    // One of them downloads and closes (下载关闭=1); the other refuses and stays on screen
    // with its reason, until it is closed.
    int codes[2] = {-1, -1};
    for (auto until = std::chrono::steady_clock::now() + 60s;
         codes[0] != 0 && codes[1] != 0 && std::chrono::steady_clock::now() < until;) {
        codes[0] = first.Wait(20ms);
        codes[1] = second.Wait(20ms);
    }
    codes[0] = first.Wait(3s);
    codes[1] = second.Wait(3s);
    EXPECT_TRUE(codes[0] == 0 || codes[1] == 0);
    EXPECT_TRUE(codes[0] == 0 || codes[0] == -1) << codes[0];
    EXPECT_TRUE(codes[1] == 0 || codes[1] == -1) << codes[1];
    const fs::path file = folder.path() / u8"资源目录" / u8"同一个.rar";
    EXPECT_EQ(ReadBytes(file), body);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1);
}

TEST_F(EngineProcessTest, AnErrorPageIsNotSavedAsTheResource) {
    Child engine(folder / "up.exe",
                 {files.Url("/files/expired.rar"), Windows(u8"资源目录/失效.rar"), "2"});
    EXPECT_EQ(engine.Wait(3s), -1) << "a failure stays on screen";
    engine.Kill();
    EXPECT_FALSE(fs::exists(folder.path() / u8"资源目录" / u8"失效.rar"));
    EXPECT_FALSE(fs::exists(folder.path() / u8"资源目录" / u8"失效.rar.part"));
    EXPECT_TRUE(Posted(500ms, 1).empty());
}

} // namespace
} // namespace vm::engine
