// The server check and the updates end to end: the test forum on loopback, the headless main
// window, real 7z archives and real .mdb catalogues opened through the jet provider.

#include "UpdateFixture.h"

#include "actions/Download.h"
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
        // Not even the damaged archive is kept: it holds no catalogue that opens.
        EXPECT_FALSE(Exists("set/data.7z"));
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

// Archives that unpack, or not, but hold no catalogue that opens.
std::vector<std::pair<std::string, std::string>> BadCatalogueArchives(const std::string& good) {
    std::vector<std::pair<std::string, std::string>> archives = {
        {"empty", CatalogueArchiveBytes("")},
        {"garbage", CatalogueArchiveBytes(std::string(8192, 'g'))},
        {"truncated", CatalogueArchiveBytes(good.substr(0, good.size() / 3))},
        {"page 1 zeroed",
         CatalogueArchiveBytes(good.substr(0, 4096) + std::string(4096, '\0') + good.substr(8192))},
        {"no catalogue in it", vm::testing::SevenZipBytes({{"readme.txt", "x", {}}})},
        {"a folder of that name", vm::testing::SevenZipBytes({{"TreeList.mdb/", "", {}}})},
    };
    {
        const TempFolder scratch("vm-catalogue");
        mdbwriter::CatalogueShape shape;
        shape.categories = 2;
        shape.resources = 4;
        shape.password = "another";
        std::string error;
        EXPECT_TRUE(mdbwriter::WriteCatalogue((scratch / "c.mdb").string(), shape, &error));
        archives.emplace_back("another password",
                              CatalogueArchiveBytes(vm::testing::ReadBytes(scratch / "c.mdb")));
    }
    {
        // Two entries of one name, the last one bad: what lands is the last.
        const TempFolder scratch("vm-archive");
        const auto archive = scratch / "twice.7z";
        EXPECT_TRUE(vm::testing::MakeSevenZip(
            archive, {{"TreeList.mdb", good, {}}, {"x/TreeList.mdb", "garbage", {}}}));
        EXPECT_TRUE(vm::testing::RenameSevenZipEntry(archive, "x/TreeList.mdb", "TreeList.mdb"));
        archives.emplace_back("twice, the last bad", vm::testing::ReadBytes(archive));
    }
    return archives;
}

TEST_F(UpdateTest, ADownloadedArchiveWithoutAGoodCatalogueIsNotKept) {
    const std::string old = CatalogueBytes(3, 1);
    InstallCatalogue(old);
    catalogue::StartCatalogue(*window);
    // A good archive already waits; nothing that arrives may take its place.
    const std::string waiting = CatalogueArchiveBytes(CatalogueBytes(4, 9));
    vm::testing::WriteBytes(File("set/data.7z"), waiting);
    std::vector<std::pair<std::string, std::string>> archives =
        BadCatalogueArchives(CatalogueBytes(5, 2));
    const std::string goodArchive = CatalogueArchiveBytes(CatalogueBytes(60, 2));
    // Good archives that arrive cut in half or overwritten in the middle.
    archives.emplace_back("served damaged", "");
    archives.emplace_back("served corrupt", "");
    for (const auto& [what, bytes] : archives) {
        SCOPED_TRACE(what);
        if (!bytes.empty()) {
            forum.SetFile("db", bytes);
            forum.SetFileMode("db", FileMode::Serve);
        } else {
            forum.SetFileMode("db",
                              what == "served damaged" ? FileMode::Damaged : FileMode::Corrupt);
        }
        sys::WriteSetting("数据库版本", "1");
        RunCheck();
        EXPECT_EQ(Hint().text(), "取回最新数据失败");
        EXPECT_EQ(sys::ReadSetting("数据库版本"), "1");
        EXPECT_EQ(vm::testing::ReadBytes(File("set/data.7z")), waiting);
        EXPECT_FALSE(Exists("set/data.7z.new"));
        EXPECT_EQ(vm::testing::ReadBytes(File("set/TreeList.mdb")), old);
        EXPECT_EQ(CatalogueNames().size(), 3u);
    }
}

TEST_F(UpdateTest, AWaitingArchiveWithoutAGoodCatalogueIsSetAsideAndTheOldOneOpens) {
    const std::string old = CatalogueBytes(3, 1);
    const std::string good = CatalogueBytes(5, 2);
    std::vector<std::pair<std::string, std::string>> archives = BadCatalogueArchives(good);
    archives.emplace_back("damaged", CatalogueArchiveBytes(good).substr(0, 200));
    for (const bool atStartup : {true, false}) {
        for (const auto& [what, bytes] : archives) {
            SCOPED_TRACE(what + (atStartup ? " at start-up" : " on a click"));
            InstallCatalogue(old);
            catalogue::StartCatalogue(*window);
            sys::WriteSetting("数据库版本", "7");
            vm::testing::WriteBytes(File("set/data.7z"), bytes);

            EXPECT_EQ(ApplyCatalogueArchiveWithResult(atStartup), ApplyResult::Failed);
            EXPECT_EQ(vm::testing::ReadBytes(File("set/TreeList.mdb")), old);
            EXPECT_FALSE(Exists("set/data.7z"));
            EXPECT_EQ(vm::testing::ReadBytes(File("set/data.refused.7z")), bytes);
            EXPECT_EQ(sys::ReadSetting("数据库版本"), ""); // fetched again by the next check
            EXPECT_EQ(Hint().text(), "数据更新失败,已重新打开旧数据库");
            EXPECT_FALSE(catalogue::CatalogueBusy());
            if (!atStartup) {
                EXPECT_EQ(CatalogueNames().size(), 3u);
            }
            EXPECT_TRUE(catalogue::OpenCatalogue());
            EXPECT_EQ(CatalogueNames().size(), 3u);
            EXPECT_FALSE(ApplyCatalogueArchive(atStartup)); // nothing is tried again
            // Nothing of the staging is left in the program folder.
            for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
                EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
        }
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

TEST_F(UpdateTest, TheRefreshedEngineRunsAndOneThatCannotRunHereIsNotInstalled) {
    InstallCatalogue(CatalogueBytes(3, 1));
    const auto engineArchive = [this](const std::string& engine) {
        // -mtr- stores no attributes, as archives made on Windows have none.
        const auto archive = folder / "made.7z";
        std::filesystem::remove(archive);
        EXPECT_TRUE(vm::testing::MakeSevenZip(archive, {{"up.exe", engine, {}}}, {"-mtr-"}));
        return vm::testing::ReadBytes(archive);
    };
    const std::string working = "#!/bin/sh\necho ran > '" + File("ran.txt").string() + "'\n";
    forum.SetFile("engine", engineArchive(working));
    forum.SetEntry("下载引擎版本", "4");
    RunCheck();
    EXPECT_EQ(sys::ReadSetting("下载引擎版本"), "4");
    ASSERT_EQ(vm::testing::ReadBytes(File("up.exe")), working);
    EXPECT_NE(std::filesystem::status(File("up.exe")).permissions() &
                  std::filesystem::perms::owner_exec,
              std::filesystem::perms::none);
    vm::testing::RunProgram({File("up.exe").string()});
    EXPECT_EQ(vm::testing::ReadBytes(File("ran.txt")), "ran\n");

    const std::string pe = "MZ\x90\x00" + std::string(200, '\0');
    const std::string otherMachine = std::string("\x7f"
                                                 "ELF\x01\x01\x01",
                                                 7) +
                                     std::string(200, '\0');
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"a PE image", engineArchive(pe)},
        {"a 32-bit ELF", engineArchive(otherMachine)},
        {"a page of text", engineArchive("<html>engine</html>")},
        {"an interpreter that is missing", engineArchive("#!/no/such/shell\n")},
        {"no engine in it", vm::testing::SevenZipBytes({{"readme.txt", "x", {}}})},
    };
    for (const auto& [what, bytes] : refused) {
        SCOPED_TRACE(what);
        forum.SetFile("engine", bytes);
        forum.SetEntry("下载引擎版本", "5");
        RunCheck();
        EXPECT_EQ(Hint().text(), actions::kEngineNotRunnableHint);
        EXPECT_EQ(sys::ReadSetting("下载引擎版本"), "4");
        EXPECT_EQ(vm::testing::ReadBytes(File("up.exe")), working);
        EXPECT_FALSE(Exists("up.7z"));
        EXPECT_FALSE(Exists("readme.txt"));
    }
}

TEST_F(UpdateTest, AnInstalledEngineWithoutItsExecuteBitGetsIt) {
    vm::testing::WriteBytes(File("up.exe"), "#!/bin/sh\nexit 0\n");
    std::filesystem::permissions(File("up.exe"), std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_write);
    actions::EnsureDownloadEngine();
    EXPECT_NE(std::filesystem::status(File("up.exe")).permissions() &
                  std::filesystem::perms::owner_exec,
              std::filesystem::perms::none);
    EXPECT_TRUE(gui::headless::ShownBoxes().empty());
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
