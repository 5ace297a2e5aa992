// One engine run in this process, without its window: jobs it must refuse, archives that must
// not replace the program, the notice, and what the user reads about a failure.

#include "engine/Engine.h"
#include "platform/kernel/MessageEndpoint.h"
#include "support/LoopbackHttp.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <unistd.h>

namespace vm::engine {
namespace {

namespace fs = std::filesystem;
using testing::GbkFromUtf8;
using testing::HttpPeer;
using testing::LoopbackHttpServer;
using testing::ReadBytes;
using testing::ReceivedRequest;
using testing::WriteBytes;

// Its own class per process: ctest runs the cases side by side.
const std::string kWindowClass = "VelumEngineTest" + std::to_string(::getpid());

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = kernel::MessageEndpoint::Create(kWindowClass);
        ASSERT_NE(window, nullptr);
        fs::create_directories(folder / "set");
        WriteBytes(folder / "set" / "Endpoints.ini",
                   "[endpoints]\r\ncloud_scheduler=" + server.Url("") + "\r\n");
    }

    EngineStatus Run(std::vector<std::string> arguments) {
        EngineOptions options = OptionsFor(folder.windowsPath());
        options.windowClass = kWindowClass;
        options.limits.retryPauseMs = 10;
        options.limits.attemptsWithoutProgress = 1;
        options.programCloseWaitMs = 500;
        Engine engine(std::move(arguments), options);
        engine.Run();
        EXPECT_TRUE(engine.Finished());
        return engine.Status();
    }

    std::vector<kernel::MessageRecord> Posted() {
        std::vector<kernel::MessageRecord> records;
        while (auto record = window->Receive())
            records.push_back(*record);
        return records;
    }

    std::string In(const std::string& relative) { return folder.windowsPath() + relative; }

    testing::TempFolder folder{"vm-engine-run"};
    std::unique_ptr<kernel::MessageEndpoint> window;
    std::string mainArchive;
    LoopbackHttpServer server{[this](const ReceivedRequest& request, HttpPeer& peer) {
        peer.Close();
        if (request.target == "/a.rar")
            peer.Send(LoopbackHttpServer::Response(200, "", "archive bytes"));
        else if (request.target == "/main.7z")
            peer.Send(LoopbackHttpServer::Response(200, "", mainArchive));
        else
            peer.Send(LoopbackHttpServer::Response(404, "", "no"));
    }};
};

TEST_F(EngineTest, ADownloadPostsItsNumberAndLeavesTheFolderClosedWhenNotAsked) {
    WriteBytes(folder / "set" / "Start.ini",
               GbkFromUtf8(u8"[主窗口]\r\n下载打开=0\r\n下载关闭=1\r\n"));
    const EngineStatus status = Run({server.Url("/a.rar"), In("x\\y\\a.rar"), "4"});
    EXPECT_EQ(status.phase, Phase::Done);
    EXPECT_EQ(ReadBytes(folder / "x" / "y" / "a.rar"), "archive bytes");
    EXPECT_EQ(status.received, 13);
    EXPECT_EQ(Posted(), (std::vector<kernel::MessageRecord>{{kDownloadFinishedMessage, 4, 0}}));
}

TEST_F(EngineTest, RefusedJobsWriteNothingAndPostNothing) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::u8string message; // the start of what the window says
    };
    const Case cases[] = {
        {"target outside the folder",
         {server.Url("/a.rar"), In("..\\escaped.rar"), "1"},
         u8"保存路径不在程序文件夹内"},
        {"unknown address form",
         {"ftp://127.0.0.1/a.rar", In("a.rar"), "1"},
         u8"无法识别的下载地址"},
        {"kp without an identifier", {"kp", In("a.rar"), "1"}, u8"无法识别的下载地址"},
        {"too few arguments", {server.Url("/a.rar")}, u8"用法"},
        {"page number not a number", {server.Url("/a.rar"), In("a.rar"), "x"}, u8"页号不是整数"},
        {"missing on the server",
         {server.Url("/b.rar"), In("a.rar"), "1"},
         u8"下载服务器上没有这个文件"},
        {"cloud file missing", {"kp,r9,9", In("a.rar"), "1"}, u8"下载服务器上没有这个文件"},
        {"a folder in the way",
         {server.Url("/a.rar"), In("blocked\\a.rar"), "1"},
         u8"无法创建文件夹"},
    };
    WriteBytes(folder / "blocked", "a file where a folder should be");
    for (const Case& c : cases) {
        const EngineStatus status = Run(c.arguments);
        EXPECT_EQ(status.phase, Phase::Failed) << c.what;
        EXPECT_EQ(status.message.rfind(GbkFromUtf8(c.message), 0), 0u) << c.what;
        EXPECT_FALSE(fs::exists(folder / "a.rar")) << c.what;
        EXPECT_FALSE(fs::exists(folder / "a.rar.part")) << c.what;
        EXPECT_FALSE(fs::exists(folder.path().parent_path() / "escaped.rar")) << c.what;
        EXPECT_TRUE(Posted().empty()) << c.what;
    }
}

TEST_F(EngineTest, UpdateArchivesThatCannotReplaceTheProgramChangeNothing) {
    WriteBytes(folder / "vellumark", "the old program");
    ASSERT_TRUE(testing::MakeSevenZip(folder / "other.7z", {{"readme.txt", "no program", {}}}));
    ASSERT_TRUE(testing::MakeSevenZip(folder / "folder.7z", {{"vellumark/", "", {}}}));
    ASSERT_TRUE(
        testing::MakeSevenZip(folder / "unsafe.7z", {{"vellumark", "new", {}}, {"x", "x", {}}}));
    ASSERT_TRUE(testing::RenameSevenZipEntry(folder / "unsafe.7z", "x", "../x"));
    struct Case {
        const char* what;
        std::string archive;
    };
    const Case cases[] = {
        {"not an archive", "7z\xBC\xAF\x27\x1C and then nothing"},
        {"an archive without the program", ReadBytes(folder / "other.7z")},
        {"the program's name is a folder", ReadBytes(folder / "folder.7z")},
        {"an entry that leaves the folder", ReadBytes(folder / "unsafe.7z")},
    };
    for (const char* name : {"other.7z", "folder.7z", "unsafe.7z"})
        fs::remove(folder / name);
    for (const Case& c : cases) {
        mainArchive = c.archive;
        const EngineStatus status = Run({server.Url("/main.7z"), In("main.7z"), "-1"});
        EXPECT_EQ(status.phase, Phase::Failed) << c.what;
        EXPECT_EQ(ReadBytes(folder / "vellumark"), "the old program") << c.what;
        EXPECT_FALSE(fs::exists(folder / "readme.txt")) << c.what;
        EXPECT_FALSE(fs::exists(folder / "x")) << c.what;
        EXPECT_FALSE(fs::exists(folder / "main.7z")) << c.what;
        EXPECT_FALSE(fs::exists(folder / "~main.7z")) << c.what;
        EXPECT_TRUE(Posted().empty()) << c.what;
    }
}

TEST_F(EngineTest, ACancelBeforeTheStartFetchesNothing) {
    Engine engine({server.Url("/a.rar"), In("a.rar"), "1"}, OptionsFor(folder.windowsPath()));
    engine.Cancel();
    engine.Run();
    EXPECT_EQ(engine.Status().phase, Phase::Cancelled);
    EXPECT_FALSE(fs::exists(folder / "a.rar"));
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(EngineFailureText, SaysWhatHappenedAndWhetherTheNextRunContinues) {
    const std::string kept = GbkFromUtf8(u8"已下载的部分会在下次下载同一资源时继续");
    FetchOutcome outcome{FetchResult::Failed, FetchError::Unavailable, 503, true};
    const std::string text = FailureText(outcome);
    EXPECT_NE(text.find("(HTTP 503)"), std::string::npos);
    EXPECT_NE(text.find(kept), std::string::npos);
    outcome = {FetchResult::Failed, FetchError::Connect, 0, false};
    EXPECT_EQ(FailureText(outcome), GbkFromUtf8(u8"无法连接下载服务器"));
    EXPECT_EQ(FailureText({FetchResult::Complete, FetchError::None, 200, false}), "");
}

} // namespace
} // namespace vm::engine
