// The start-up sequence on the headless backend, in a fresh program folder.

#include "app/Program.h"
#include "app/WorkingFolder.h"
#include "platform/gui/Headless.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"
#include "sys/Settings.h"
#include "update/ServerInfo.h"

#include <gtest/gtest.h>
#include <thread>

namespace vm::app {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { gui::UseHeadless(); }

    // Starts the program as if its executable lay in `folder`.
    Program& Start(const TempFolder& folder) { return Start(folder.windowsPath()); }
    Program& Start(const std::string& windowsFolder) {
        program_ = std::make_unique<Program>(Program::Options{windowsFolder + "vellumark"});
        program_->Start();
        return *program_;
    }
    gui::Window& Main() { return *gui::Application::instance().findWindow("Velum"); }

    TempFolder folder_;
    std::unique_ptr<Program> program_;
};

TEST_F(StartupTest, EmptyFolderGetsSettingsPicturesAndListPage) {
    Start(folder_);
    const fs::path set = folder_ / "set";
    const std::string ini = ReadBytes(set / "Start.ini");
    EXPECT_NE(ini.find("[主窗口]"), std::string::npos);
    EXPECT_NE(ini.find("下载方式=1"), std::string::npos);
    EXPECT_NE(ini.find("下载打开=1"), std::string::npos);
    EXPECT_NE(ini.find("下载关闭=1"), std::string::npos);
    EXPECT_EQ(fs::file_size(set / "dt" / "list.htm"), 2009u);
    EXPECT_EQ(fs::file_size(set / "dt" / "down.gif"), 1880u);
    EXPECT_EQ(fs::file_size(set / "dt" / "see.gif"), 1741u);
    EXPECT_EQ(fs::file_size(set / "dt" / "look.gif"), 1895u);
    EXPECT_FALSE(fs::exists(set / "TEMP.TMP"));
    EXPECT_FALSE(fs::exists(set / "dt" / "TEMP.TMP"));

    const sys::DownloadSettings& settings = sys::CurrentDownloadSettings();
    EXPECT_TRUE(settings.viaEngine && settings.openFolderAfter && settings.closeDialogAfter);

    gui::Window& main = Main();
    EXPECT_EQ(main.control("透明标签_版本信息").text(), "主程序版本：1.4 测试版");
    EXPECT_EQ(main.control("编辑框_搜索框").text(), "请输入您要搜索的关键字");
    EXPECT_EQ(main.roundedOutline(), std::make_pair(6, 7));
    EXPECT_NE(main.style() & gui::WS_SYSMENU, 0);
    EXPECT_EQ(program_->listPagePath(), folder_.windowsPath() + "set\\dt\\list.htm");
    EXPECT_NE(main.control("超文本浏览框1").locationUrl().find("list.htm"), std::string::npos);
    EXPECT_FALSE(gui::Application::instance().ended());
}

TEST_F(StartupTest, RestartRestoresListPageAndMissingPicturesOnly) {
    fs::create_directories(folder_ / "set" / "dt");
    WriteBytes(folder_ / "set" / "dt" / "list.htm", "edited");
    WriteBytes(folder_ / "set" / "dt" / "down.gif", "damaged but kept");
    WriteBytes(folder_ / "set" / "Start.ini", "[主窗口]\r\n下载方式=0\r\n下载打开=1.0\r\n");
    Start(folder_);
    EXPECT_EQ(ReadBytes(folder_ / "set" / "dt" / "list.htm"), BuiltinFile("list.htm"));
    EXPECT_EQ(ReadBytes(folder_ / "set" / "dt" / "down.gif"), "damaged but kept");
    EXPECT_EQ(ReadBytes(folder_ / "set" / "dt" / "see.gif"), BuiltinFile("see.gif"));
    // An existing settings file is read, never rewritten with defaults.
    const sys::DownloadSettings& settings = sys::CurrentDownloadSettings();
    EXPECT_FALSE(settings.viaEngine);
    EXPECT_TRUE(settings.openFolderAfter);
    EXPECT_FALSE(settings.closeDialogAfter);
}

TEST_F(StartupTest, ArchiveLikeFoldersAreRefused) {
    for (const std::string stem : {"Templates", "LOCAL", "my-temp"}) {
        gui::UseHeadless();
        const fs::path inside = folder_ / stem;
        fs::create_directories(inside);
        Start(folder_.windowsPath() + stem + "\\");
        auto& app = gui::Application::instance();
        ASSERT_EQ(gui::headless::ShownBoxes().size(), 1u) << stem;
        const auto& box = gui::headless::ShownBoxes().front();
        EXPECT_EQ(box.text, std::string(kArchiveMessage));
        EXPECT_EQ(box.style, 64);
        EXPECT_TRUE(app.ended());
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_TRUE(program_->exitCleanupRan());
        EXPECT_FALSE(fs::exists(inside / "set")) << stem;
        program_.reset();
    }
}

TEST_F(StartupTest, FolderWithBlanksAndChineseAndGarbledSettings) {
    const fs::path inside = folder_.path() / fs::path(u8"程序 目录");
    fs::create_directories(inside / "set");
    const std::string garbled("\0\xFF\xFE[主窗口\n下载方式\r=1\n\x81", 17);
    WriteBytes(inside / "set" / "Start.ini", garbled);
    Start(folder_.windowsPath() + "程序 目录\\");
    EXPECT_FALSE(gui::Application::instance().ended());
    EXPECT_EQ(fs::file_size(inside / "set" / "dt" / "list.htm"), 2009u);
    // The damaged file is read as it is and never replaced by defaults.
    EXPECT_EQ(ReadBytes(inside / "set" / "Start.ini"), garbled);
    EXPECT_FALSE(sys::CurrentDownloadSettings().viaEngine);
}

TEST_F(StartupTest, ReadOnlyFolderRunsWithoutItsFiles) {
    fs::permissions(folder_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    Start(folder_);
    EXPECT_FALSE(fs::exists(folder_ / "set"));
    EXPECT_FALSE(gui::Application::instance().ended());
    EXPECT_FALSE(sys::CurrentDownloadSettings().viaEngine);
}

TEST_F(StartupTest, EndingTheProgramCutsTheServerCheckShortInsideItsRequest) {
    // The information page never answers, and its request would wait for 3000 s.
    testing::TestForum forum;
    forum.SetPageMode(testing::TestForum::Page::Primary, testing::TestForum::PageMode::Stall);
    forum.WriteEndpoints(folder_.path());
    program_ = std::make_unique<Program>(Program::Options{folder_.windowsPath() + "vellumark"});
    using Clock = std::chrono::steady_clock;
    Clock::time_point ended;
    bool fetching = false;
    std::thread closer([&] {
        for (const auto until = Clock::now() + std::chrono::seconds(10);
             forum.RequestCount("") == 0 && Clock::now() < until;)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        fetching = forum.RequestCount("") > 0;
        ended = Clock::now();
        gui::Application::instance().endProgram(0);
    });
    const int code = program_->Run();
    const Clock::time_point returned = Clock::now();
    closer.join();

    EXPECT_TRUE(fetching);
    EXPECT_EQ(code, 0);
    // Joined, not left behind after the wait: what the check used is released only then.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - ended).count(),
              Program::kServerCheckEndMs / 2);
    EXPECT_TRUE(program_->exitCleanupRan());
    EXPECT_EQ(sys::ProgramFolder(), "");
    EXPECT_EQ(update::ServerInfo().ValueOf("程序版本"), ""); // the cut request is no document
    EXPECT_EQ(forum.RequestCount(""), 1);                    // nor tried again
}

TEST(WorkingFolder, WritableFolderAndFolderTree) {
    TempFolder folder;
    const std::string base = folder.windowsPath();
    EXPECT_TRUE(IsWritableFolder(base + "."));
    EXPECT_FALSE(IsWritableFolder(base + "missing"));
    EXPECT_FALSE(IsWritableFolder("  \xA1\xA1"));
    EXPECT_TRUE(CreateFolderTree(base + "a\\b\\c\\"));
    EXPECT_TRUE(fs::is_directory(folder / "a/b/c"));
    EXPECT_TRUE(CreateFolderTree(base + "a\\b"));
    // A file in the way fails the walk, and the level created by this call is removed again.
    WriteBytes(folder / "x", "");
    EXPECT_FALSE(CreateFolderTree(base + "x\\y"));
    EXPECT_FALSE(CreateFolderTree(base + "fresh\\..\\x\\deeper"));
    EXPECT_FALSE(fs::exists(folder / "fresh"));
    EXPECT_FALSE(CreateFolderTree("   "));
}

TEST(Settings, DownloadKeysParseAsNumbers) {
    struct Case {
        std::string value;
        bool expected;
    };
    const std::vector<Case> cases = {{"1", true},     {"1.0", true}, {" 1", true},   {"1abc", true},
                                     {"0", false},    {"2", false},  {"", false},    {"yes", false},
                                     {"0.99", false}, {"-1", false}, {"1.01", false}};
    TempFolder folder;
    sys::SetProgramFolder(folder.windowsPath());
    fs::create_directories(folder / "set");
    for (const auto& c : cases) {
        WriteBytes(folder / "set" / "Start.ini",
                   "[主窗口]\r\n下载方式=" + c.value + "\r\n下载打开=" + c.value + "\r\n");
        sys::LoadDownloadSettings();
        EXPECT_EQ(sys::CurrentDownloadSettings().viaEngine, c.expected) << c.value;
        EXPECT_EQ(sys::CurrentDownloadSettings().openFolderAfter, c.expected) << c.value;
        EXPECT_FALSE(sys::CurrentDownloadSettings().closeDialogAfter); // key missing
    }
    sys::WriteDownloadSettings(false, true, false);
    EXPECT_EQ(sys::ReadSetting("下载方式"), "0");
    EXPECT_EQ(sys::ReadSetting("下载打开"), "1");
    EXPECT_EQ(sys::ReadSetting("下载关闭"), "0");
    sys::SetProgramFolder({});
}

} // namespace
} // namespace vm::app
