// Downloads: the decision in both modes for every address form, the engine's command line as
// a real stand-in engine receives it, and the engine repair from the test forum.

#include "actions/Download.h"

#include "platform/gui/Headless.h"
#include "platform/kernel/Thread.h"
#include "platform/shell/OpenerRecorder.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"
#include "sys/Archive.h"
#include "sys/Endpoints.h"
#include "sys/Process.h"
#include "sys/Settings.h"
#include "update/ServerInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace vm::actions {
namespace {

namespace hl = gui::headless;
using vm::testing::ReadBytes;
using vm::testing::TestForum;

const std::string kBusyEngine = "#!/bin/sh\nwhile :; do sleep 0.1; done\n";
const std::string kNewEngine = "#!/bin/sh\necho repaired\n";

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        vm::test::OpenerRecorder::Instance().Clear();
        gui::UseHeadless();
        static const bool library = sys::LoadBuiltinArchiveLibrary(sys::ProgramArchiveLibrary());
        ASSERT_TRUE(library);
        forum.WriteEndpoints(folder.path());
        sys::SetProgramFolder(folder.windowsPath());
        sys::SetCurrentEndpoints(sys::LoadEndpoints(folder.windowsPath()));
        update::ServerInfo().SetDocument("下载引擎地址(" + forum.FilePage("engine") +
                                         ")下载引擎地址");
        forum.SetFile("engine", vm::testing::SevenZipBytes({{"up.exe", kNewEngine, {}}}));
    }
    void TearDown() override {
        EndEngine();
        gui::Application::instance().endProgram(0);
    }

    void WriteScript(const std::string& name, const std::string& text) {
        vm::testing::WriteBytes(folder / name, text);
        std::filesystem::permissions(folder / name, std::filesystem::perms::owner_all);
    }
    // Installs an engine that writes its arguments, one a line, to engine-args.txt.
    void InstallRecordingEngine() {
        const std::string log = (folder / "engine-args.txt").string();
        WriteScript("up.exe", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + log + ".part'\nmv '" + log +
                                  ".part' '" + log + "'\n");
    }
    std::string EngineArguments() {
        const auto log = folder / "engine-args.txt";
        kernel::WaitDispatching(5000, [&] { return std::filesystem::exists(log); });
        return std::filesystem::exists(log) ? ReadBytes(log) : "";
    }
    void StartBusyEngine() {
        WriteScript("up.exe", kBusyEngine);
        const std::string path = (folder / "up.exe").string();
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        ASSERT_EQ(posix_spawn(&engine, path.c_str(), nullptr, nullptr, argv, environ), 0);
        ASSERT_TRUE(kernel::WaitDispatching(5000, [] { return sys::ProcessExists("up.exe"); }));
    }
    bool EngineRunning() { return engine > 0 && ::waitpid(engine, nullptr, WNOHANG) == 0; }
    void EndEngine() {
        if (engine > 0) {
            ::kill(engine, SIGKILL);
            ::waitpid(engine, nullptr, 0);
            engine = 0;
        }
    }

    vm::testing::TempFolder folder{"vm-download"};
    TestForum forum;
    pid_t engine = 0;
};

TEST_F(DownloadTest, ThroughTheEngineEveryAddressFormGoesToItUnchanged) {
    InstallRecordingEngine();
    sys::CurrentDownloadSettings().viaEngine = true;
    const std::string title = "My Demo 源码";
    const std::string path = "界面\\按钮\\";
    for (const std::string address : {"http://x.test/a.rar", "kp,12345,a", "ftp://f.test/b"}) {
        std::filesystem::remove(folder / "engine-args.txt");
        StartResourceDownload(address, title, path, 3);
        const std::string target =
            folder.windowsPath() + "资源目录\\界面\\按钮\\My\\[k]Demo\\[k]源码.rar";
        EXPECT_EQ(EngineArguments(), vm::testing::Utf8FromGbk(address + "\n" + target + "\n3\n"))
            << address;
    }
    EXPECT_TRUE(hl::ShownBoxes().empty());
    EXPECT_TRUE(vm::test::OpenerRecorder::Instance().Lines().empty());
}

TEST_F(DownloadTest, ByHandTheAddressFormDecides) {
    sys::CurrentDownloadSettings().viaEngine = false;
    StartResourceDownload("http://x.test/a.rar", "甲", "", 1);
    StartResourceDownload("kp,12345", "乙", "", 1);
    EXPECT_EQ(
        vm::test::OpenerRecorder::Instance().WaitFor(2),
        (std::vector<std::string>{"http://x.test/a.rar", forum.Address() + "/file/id_12345.html"}));

    // Only the engine understands the other forms, a "kp" without identifier among them.
    for (const std::string address : {"ftp://f.test/b", "HTTP://upper.test/", "kp"}) {
        StartResourceDownload(address, "丙 源码", "", 1);
        ASSERT_FALSE(hl::ShownBoxes().empty());
        const auto& box = hl::ShownBoxes().back();
        EXPECT_EQ(box.caption, "唉哟！悲剧！") << address;
        EXPECT_EQ(box.style, 64);
        EXPECT_EQ(box.text, EngineOnlyMessage("丙 源码"));
        EXPECT_EQ(box.text.substr(0, 18), "原来资源 \"丙 源码\"");
    }
    EXPECT_EQ(hl::ShownBoxes().size(), 3u);
}

TEST_F(DownloadTest, AnEmptyAddressIsRefusedInBothModes) {
    for (const bool viaEngine : {true, false}) {
        sys::CurrentDownloadSettings().viaEngine = viaEngine;
        StartResourceDownload("", "甲", "", 1);
        ASSERT_FALSE(hl::ShownBoxes().empty());
        EXPECT_EQ(hl::ShownBoxes().back().text, kNoAddressMessage);
        EXPECT_EQ(hl::ShownBoxes().back().style, 0);
    }
    EXPECT_EQ(hl::ShownBoxes().size(), 2u);
}

TEST_F(DownloadTest, AResourceOutsideTheCatalogueLiesDirectlyInTheResourceFolder) {
    InstallRecordingEngine();
    sys::CurrentDownloadSettings().viaEngine = true;
    catalogue::ResourceRecord record;
    record.title = "孤立资源";
    record.address = "kp,9";
    StartResourceDownload(record);
    EXPECT_EQ(EngineArguments(), vm::testing::Utf8FromGbk("kp,9\n" + folder.windowsPath() +
                                                          "资源目录\\孤立资源.rar\n0\n"));
}

TEST_F(DownloadTest, MissingEngineIsRepairedOnlyWithConsent) {
    hl::QueueAnswer(gui::IDNO);
    EnsureDownloadEngine();
    EXPECT_EQ(hl::ShownBoxes().size(), 1u);
    EXPECT_EQ(hl::ShownBoxes()[0].text, kRepairEngineQuestion);
    EXPECT_EQ(hl::ShownBoxes()[0].style, 0x44);
    EXPECT_EQ(forum.RequestCount("/cdlsched/"), 0);

    hl::QueueAnswer(gui::IDYES);
    EnsureDownloadEngine();
    ASSERT_EQ(hl::ShownBoxes().size(), 3u);
    EXPECT_EQ(hl::ShownBoxes()[2].text, kEngineRepaired);
    EXPECT_EQ(ReadBytes(folder / "up.exe"), kNewEngine);
    EXPECT_FALSE(std::filesystem::exists(folder / "up.7z"));

    EnsureDownloadEngine(); // present now: no question
    EXPECT_EQ(hl::ShownBoxes().size(), 3u);
}

TEST_F(DownloadTest, FailedRepairIsReportedAndLeavesNoArchive) {
    for (const auto mode : {TestForum::FileMode::NotFound, TestForum::FileMode::Damaged,
                            TestForum::FileMode::Corrupt}) {
        forum.SetFileMode("engine", mode);
        hl::QueueAnswer(gui::IDYES);
        EnsureDownloadEngine();
        EXPECT_EQ(hl::ShownBoxes().back().text, kEngineNotRepaired) << static_cast<int>(mode);
        EXPECT_FALSE(std::filesystem::exists(folder / "up.7z"));
        EXPECT_FALSE(std::filesystem::exists(folder / "up.exe"));
    }
}

TEST_F(DownloadTest, RepairEndsARunningEngineWhenAskedTo) {
    StartBusyEngine();
    EXPECT_TRUE(RepairDownloadEngine(true));
    EXPECT_FALSE(EngineRunning());
    EXPECT_EQ(ReadBytes(folder / "up.exe"), kNewEngine);
}

TEST_F(DownloadTest, RepairWithoutAnArchiveLeavesTheRunningEngineAlone) {
    StartBusyEngine();
    forum.SetFileMode("engine", TestForum::FileMode::NotFound);
    EXPECT_FALSE(RepairDownloadEngine(true));
    EXPECT_TRUE(EngineRunning());
    EXPECT_EQ(ReadBytes(folder / "up.exe"), kBusyEngine);
}

TEST_F(DownloadTest, CloudDriveLinkAsksTheSchedulerWithThePageAsReferrer) {
    forum.SetFile("abc", "file bytes");
    const std::string page = forum.FilePage("abc");
    EXPECT_EQ(ResolveCloudDriveLink(page), "file bytes");
    const auto requests = forum.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/cdlsched/getdl?fid=abc&acc_params=entryid:abc,pickupCode:");
    EXPECT_EQ(requests[0].Header("Referer"), page);

    const int closed = vm::testing::ClosedPort();
    sys::Endpoints endpoints = sys::CurrentEndpoints();
    endpoints.cloudScheduler = "http://127.0.0.1:" + std::to_string(closed);
    sys::SetCurrentEndpoints(endpoints);
    EXPECT_EQ(ResolveCloudDriveLink(page), "");
}

} // namespace
} // namespace vm::actions
