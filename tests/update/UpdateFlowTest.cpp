// The server check and the updates end to end: the test forum on loopback, the headless main
// window, real 7z archives and real .mdb catalogues opened through the jet provider.

#include "UpdateFixture.h"

#include "sys/Process.h"

namespace vm::update::testing {
namespace {

namespace hl = gui::headless;
using Page = TestForum::Page;
using PageMode = TestForum::PageMode;
using FileMode = TestForum::FileMode;

std::vector<std::string> Sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

// --- reading the server information ---------------------------------------------------------

TEST_F(UpdateTest, AllTwelveAttemptsFailingEndsTheProgram) {
    forum.SetPageMode(Page::Primary, PageMode::NoMarkers);
    forum.SetPageMode(Page::Fallback, PageMode::ServerError);
    RunCheck();
    EXPECT_EQ(forum.RequestCount("/blog/"), 6);
    EXPECT_EQ(forum.RequestCount("/notes/"), 6);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{NoServerInfoMessage()});
    EXPECT_EQ(vm::test::OpenerRecorder::Instance().WaitFor(1),
              std::vector<std::string>{forum.Address()});
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(app.exitCode(), 0);
}

TEST_F(UpdateTest, FallbackAnswersAfterThePrimaryFailsSixTimes) {
    InstallCatalogue(CatalogueBytes(3, 1));
    forum.SetPageMode(Page::Primary, PageMode::Refuse);
    forum.SetEntry("程序版本", "1.5 正式版");
    RunCheck();
    EXPECT_EQ(forum.RequestCount("/blog/"), 6);
    EXPECT_EQ(forum.RequestCount("/notes/"), 1);
    EXPECT_FALSE(app.ended());
    EXPECT_TRUE(window->control("图片框_更新").visible());
    EXPECT_EQ(window->control("透明标签_更新").text(), ui::kUpdateNowText);
}

TEST_F(UpdateTest, ThePrimaryAnsweringOnItsFifthAttemptIsEnough) {
    InstallCatalogue(CatalogueBytes(3, 1));
    forum.FailFirst(Page::Primary, 4, PageMode::ServerError);
    RunCheck();
    EXPECT_EQ(forum.RequestCount("/blog/"), 5);
    EXPECT_EQ(forum.RequestCount("/notes/"), 0);
    EXPECT_FALSE(app.ended());
    // Same program version: the mark goes and the label keeps its text.
    EXPECT_FALSE(window->control("图片框_更新").visible());
    EXPECT_EQ(window->control("透明标签_更新").text(), "最新版本");
}

// --- the minimum version --------------------------------------------------------------------

TEST_F(UpdateTest, MinimumVersionAboveTwoAsksForTheUpdate) {
    InstallCatalogue(CatalogueBytes(3, 1));
    const std::string question(kTooOldQuestion);
    struct Case {
        std::string minimum;
        bool tooOld;
    } cases[] = {{"", false},    {"2", false},  {"2.0", false},
                 {"abc", false}, {"2.5", true}, {"10", true}};
    for (const Case& c : cases) {
        forum.SetEntry("版本号", c.minimum);
        hl::QueueAnswer(gui::IDYES);
        const std::size_t before = hl::ShownBoxes().size();
        RunCheck();
        const bool asked = hl::ShownBoxes().size() > before &&
                           hl::ShownBoxes()[before].text == question &&
                           hl::ShownBoxes()[before].caption == "Vellumark" &&
                           hl::ShownBoxes()[before].style == 0x44;
        EXPECT_EQ(asked, c.tooOld) << c.minimum;
    }
    // Each answered question opened the update page; none may arrive during the next test.
    EXPECT_EQ(vm::test::OpenerRecorder::Instance().WaitFor(2).size(), 2u);
}

TEST_F(UpdateTest, TooOldWithTheEngineHandsTheProgramUpdateToIt) {
    InstallCatalogue(CatalogueBytes(3, 1));
    WriteScript(File("up.exe"), RecordingEngine(File("engine-args.txt")));
    forum.SetEntry("版本号", "2.5");
    hl::QueueAnswer(gui::IDYES);
    RunCheck();
    EXPECT_FALSE(window->visible());
    EXPECT_FALSE(app.ended());
    kernel::WaitDispatching(5000, [&] { return Exists("engine-args.txt"); });
    const std::string expected =
        forum.Address() + "/main.7z\n" + folder.windowsPath() + "main.7z\n-1\n";
    EXPECT_EQ(vm::testing::ReadBytes(File("engine-args.txt")), expected);
    EXPECT_TRUE(vm::test::OpenerRecorder::Instance().Lines().empty());
}

TEST_F(UpdateTest, TooOldWithoutTheEngineOpensTheUpdatePage) {
    InstallCatalogue(CatalogueBytes(3, 1));
    forum.SetEntry("版本号", "3");
    forum.SetEntry("程序版本", "2.0");
    hl::QueueAnswer(gui::IDYES);
    RunCheck();
    EXPECT_FALSE(window->visible());
    EXPECT_EQ(vm::test::OpenerRecorder::Instance().WaitFor(1),
              std::vector<std::string>{forum.Address() + "/update.html"});
    // The check goes on with the window hidden.
    EXPECT_EQ(window->control("透明标签_更新").text(), ui::kUpdateNowText);
    EXPECT_FALSE(app.ended());
}

TEST_F(UpdateTest, TooOldAndDeclinedEndsTheProgram) {
    forum.SetEntry("版本号", "3");
    forum.SetEntry("数据库版本", "9");
    hl::QueueAnswer(gui::IDNO);
    RunCheck();
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{std::string(kTooOldQuestion)});
    EXPECT_EQ(forum.RequestCount("/cdlsched/"), 0);
}

// --- the catalogue --------------------------------------------------------------------------

TEST_F(UpdateTest, FirstStartWithoutCatalogueDownloadsAndInstallsIt) {
    const std::string catalogueBytes = CatalogueBytes(4, 7);
    forum.SetFile("db", CatalogueArchiveBytes(catalogueBytes));
    RunCheck();
    EXPECT_FALSE(window->visible());
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{std::string(kCatalogueLostMessage),
                                                    std::string(kCatalogueRepaired)}));
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(vm::testing::ReadBytes(File("set/TreeList.mdb")), catalogueBytes);
    EXPECT_FALSE(Exists("set/data.7z"));
    EXPECT_TRUE(catalogue::OpenCatalogue());
    EXPECT_EQ(CatalogueNames().size(), 4u);
}

TEST_F(UpdateTest, MissingCatalogueThatCannotBeFetchedIsReportedAsNotRepaired) {
    for (const FileMode mode : {FileMode::NotFound, FileMode::Damaged}) {
        forum.SetFile("db", CatalogueArchiveBytes(CatalogueBytes(2, 3)));
        forum.SetFileMode("db", mode);
        gui::UseHeadless();
        window = &mainWindow->Load(forum.Address());
        RunCheck();
        EXPECT_EQ(BoxTexts(), (std::vector<std::string>{std::string(kCatalogueLostMessage),
                                                        std::string(kCatalogueNotRepaired)}))
            << static_cast<int>(mode);
        EXPECT_FALSE(Exists("set/TreeList.mdb"));
        // Only the damaged archive arrived (it looks like one); it waits for the next start.
        EXPECT_EQ(Exists("set/data.7z"), mode == FileMode::Damaged);
        EXPECT_TRUE(app.ended());
    }
}

TEST_F(UpdateTest, NewerCatalogueIsOfferedAndAClickOnTheHintReplacesIt) {
    InstallCatalogue(CatalogueBytes(3, 1));
    catalogue::StartCatalogue(*window);
    ASSERT_EQ(CatalogueNames().size(), 3u);
    EXPECT_EQ(Sorted(TreeTexts()).size(), 4u); // "最近更新" and three categories
    sys::WriteSetting("数据库版本", "1");
    const std::string newer = CatalogueBytes(6, 2);
    forum.SetFile("db", CatalogueArchiveBytes(newer));

    RunCheck();
    EXPECT_EQ(Hint().text(), ui::kCatalogueReadyHint);
    EXPECT_TRUE(Hint().visible());
    EXPECT_EQ(Hint().textColour(), (gui::Colour{255, 255, 255}));
    EXPECT_EQ(Hint().cursor(), gui::CursorShape::Hand);
    EXPECT_EQ(sys::ReadSetting("数据库版本"), "2");
    EXPECT_TRUE(Exists("set/data.7z"));
    EXPECT_EQ(CatalogueNames().size(), 3u); // nothing replaced before the click

    Hint().fire(gui::Event::LeftButtonDown);
    EXPECT_EQ(vm::testing::ReadBytes(File("set/TreeList.mdb")), newer);
    EXPECT_FALSE(Exists("set/data.7z"));
    std::vector<std::string> expected = CatalogueNames();
    ASSERT_EQ(expected.size(), 6u);
    std::vector<std::string> shown = TreeTexts();
    ASSERT_FALSE(shown.empty());
    shown.erase(shown.begin()); // "最近更新"
    EXPECT_EQ(Sorted(shown), expected);
    EXPECT_TRUE(catalogue::LatestShown());
    EXPECT_FALSE(catalogue::CurrentList().empty());
    EXPECT_FALSE(catalogue::CatalogueBusy());
    EXPECT_EQ(Hint().text(), "");
    EXPECT_FALSE(Hint().visible());

    // A second click finds no offer in the hint and does nothing.
    sys::WriteSetting("数据库版本", "x");
    Hint().fire(gui::Event::LeftButtonDown);
    EXPECT_EQ(CatalogueNames().size(), 6u);
}

TEST_F(UpdateTest, DamagedCatalogueArchiveKeepsTheOldCatalogue) {
    const std::string old = CatalogueBytes(3, 1);
    InstallCatalogue(old);
    catalogue::StartCatalogue(*window);
    forum.SetFile("db", CatalogueArchiveBytes(CatalogueBytes(60, 2)));
    for (const FileMode mode : {FileMode::Damaged, FileMode::Corrupt}) {
        SCOPED_TRACE(static_cast<int>(mode));
        sys::WriteSetting("数据库版本", "1");
        forum.SetFileMode("db", mode);
        RunCheck();
        ASSERT_EQ(Hint().text(), ui::kCatalogueReadyHint);

        EXPECT_EQ(ApplyCatalogueArchiveWithResult(false), ApplyResult::Failed);
        EXPECT_EQ(Hint().text(), "数据更新失败,已重新打开旧数据库");
        EXPECT_EQ(vm::testing::ReadBytes(File("set/TreeList.mdb")), old);
        EXPECT_TRUE(Exists("set/data.7z"));
        EXPECT_EQ(CatalogueNames().size(), 3u);
        EXPECT_EQ(TreeTexts().size(), 4u);
        EXPECT_FALSE(catalogue::CatalogueBusy());
    }
}

TEST_F(UpdateTest, FailedCatalogueDownloadLeavesNothingBehind) {
    InstallCatalogue(CatalogueBytes(3, 1));
    sys::WriteSetting("数据库版本", "1");
    for (const FileMode mode : {FileMode::NotFound, FileMode::Empty}) {
        forum.SetFile("db", "");
        forum.SetFileMode("db", mode);
        RunCheck();
        EXPECT_EQ(Hint().text(), "取回最新数据失败") << static_cast<int>(mode);
        EXPECT_EQ(Hint().cursor(), gui::CursorShape::Default);
        EXPECT_EQ(sys::ReadSetting("数据库版本"), "1");
        EXPECT_FALSE(Exists("set/data.7z"));
    }
}

TEST_F(UpdateTest, ArchiveWaitingAtStartIsAppliedBeforeTheCatalogueOpens) {
    InstallCatalogue(CatalogueBytes(3, 1));
    const std::string newer = CatalogueBytes(5, 4);
    vm::testing::WriteBytes(File("set/data.7z"), CatalogueArchiveBytes(newer));
    EXPECT_TRUE(ApplyCatalogueArchive(true));
    EXPECT_EQ(vm::testing::ReadBytes(File("set/TreeList.mdb")), newer);
    EXPECT_FALSE(Exists("set/data.7z"));
    EXPECT_EQ(Hint().text(), "");
    EXPECT_EQ(catalogue::OpenCatalogueData(), nullptr); // the caller opens it
    EXPECT_FALSE(ApplyCatalogueArchive(true));          // nothing waits any more
}

// --- the download engine --------------------------------------------------------------------

TEST_F(UpdateTest, EngineRefreshWaitsForTheRunningEngine) {
    InstallCatalogue(CatalogueBytes(3, 1));
    WriteScript(File("up.exe"), kBusyEngine);
    RunningScript engine(File("up.exe"));
    ASSERT_TRUE(kernel::WaitDispatching(5000, [] { return sys::ProcessExists("up.exe"); }));
    const std::string newEngine = "#!/bin/sh\necho new engine\n";
    forum.SetFile("engine", vm::testing::SevenZipBytes({{"up.exe", newEngine, {}}}));
    forum.SetEntry("下载引擎版本", "4");

    kernel::Thread check = StartServerCheck();
    kernel::WaitDispatching(1500);
    EXPECT_FALSE(check.Wait(0));
    EXPECT_EQ(Hint().text(), "正在取回最新下载引擎 版本为::4");
    EXPECT_TRUE(engine.running()); // waited for, never ended
    EXPECT_TRUE(Exists("up.7z"));
    EXPECT_EQ(vm::testing::ReadBytes(File("up.exe")), kBusyEngine);

    engine.End();
    kernel::WaitDispatching(10000, [&] {
        return Hint().text() == "取回最新下载引擎成功" && sys::ReadSetting("下载引擎版本") == "4";
    });
    EXPECT_EQ(Hint().text(), "取回最新下载引擎成功");
    EXPECT_EQ(vm::testing::ReadBytes(File("up.exe")), newEngine);
    EXPECT_FALSE(Exists("up.7z"));
    EXPECT_EQ(sys::ReadSetting("下载引擎版本"), "4");
    while (!check.Wait(0))
        app.processPending(20);
    EXPECT_EQ(Hint().text(), "");
}

TEST_F(UpdateTest, FailedEngineRefreshKeepsItsHintAndVersion) {
    InstallCatalogue(CatalogueBytes(3, 1));
    forum.SetEntry("下载引擎版本", "4");
    forum.SetFile("engine", "<html>moved</html>");
    RunCheck();
    EXPECT_EQ(Hint().text(), "正在取回最新下载引擎 版本为::4");
    EXPECT_EQ(sys::ReadSetting("下载引擎版本"), "3");
    EXPECT_FALSE(Exists("up.7z"));
    EXPECT_FALSE(Exists("up.exe"));
}

// --- the program version ----------------------------------------------------------------------

TEST_F(UpdateTest, NewerProgramMakesTheLabelStartTheUpdate) {
    InstallCatalogue(CatalogueBytes(3, 1));
    WriteScript(File("up.exe"), RecordingEngine(File("engine-args.txt")));
    gui::Control& label = window->control("透明标签_更新");
    label.fire(gui::Event::LeftButtonDown); // "最新版本": nothing
    kernel::WaitDispatching(300);
    EXPECT_FALSE(Exists("engine-args.txt"));

    forum.SetEntry("程序版本", "1.5 正式版");
    RunCheck();
    ASSERT_EQ(label.text(), ui::kUpdateNowText);
    label.fire(gui::Event::LeftButtonDown);
    kernel::WaitDispatching(5000, [&] { return Exists("engine-args.txt"); });
    EXPECT_EQ(vm::testing::ReadBytes(File("engine-args.txt")),
              forum.Address() + "/main.7z\n" + folder.windowsPath() + "main.7z\n-1\n");
}

TEST_F(UpdateTest, CheckProgramVersionComparesWithTheDocumentRead) {
    // Before the first fetch the newest version reads as empty.
    hl::QueueAnswer(gui::IDNO);
    CheckProgramVersion();
    EXPECT_EQ(BoxTexts().back(), "当前版本:1.4 测试版\r\n最新版本:\r\n是否进行更新?");

    ServerInfo().SetDocument("程序版本(1.4 测试版)程序版本");
    CheckProgramVersion();
    EXPECT_EQ(BoxTexts().back(), std::string(kNewestVersionMessage));

    ServerInfo().SetDocument("程序版本(1.6)程序版本更新地址(http://127.0.0.1:9/u)更新地址");
    hl::QueueAnswer(gui::IDYES);
    CheckProgramVersion();
    EXPECT_EQ(BoxTexts().back(), "当前版本:1.4 测试版\r\n最新版本:1.6\r\n是否进行更新?");
    EXPECT_EQ(vm::test::OpenerRecorder::Instance().WaitFor(1),
              std::vector<std::string>{"http://127.0.0.1:9/u"});
}

} // namespace
} // namespace vm::update::testing
