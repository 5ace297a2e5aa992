// The catalogue update as a user meets it in the real main window: the status hint appears
// when the test forum offers a newer catalogue, and a mouse click on it replaces the catalogue
// and refills the tree, without a restart.

#include "catalogue/Catalogue.h"
#include "gui/QtFixture.h"
#include "mdbwriter/Catalogue.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"
#include "sys/Archive.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "update/ServerCheck.h"
#include "update/ServerInfo.h"
#include "update/Updates.h"

#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <chrono>
#include <filesystem>
#include <functional>

namespace vm::update {
namespace {

using gui::testing::G;
using vm::testing::TestForum;

std::string CatalogueBytes(int categories, std::uint32_t seed) {
    const vm::testing::TempFolder scratch("vm-catalogue");
    mdbwriter::CatalogueShape shape;
    shape.categories = categories;
    shape.resources = categories * 4;
    shape.seed = seed;
    shape.creationDate = 45000;
    std::string error;
    const std::string path = (scratch / "TreeList.mdb").string();
    EXPECT_TRUE(mdbwriter::WriteCatalogue(path, shape, &error)) << error;
    return vm::testing::ReadBytes(path);
}

class UpdateWindowQtTest : public gui::testing::QtTest {
protected:
    void SetUp() override {
        QtTest::SetUp();
        ASSERT_TRUE(sys::LoadBuiltinArchiveLibrary(sys::ProgramArchiveLibrary()));
        forum.WriteEndpoints(folder.path());
        sys::SetProgramFolder(folder.windowsPath());
        sys::SetCurrentEndpoints(sys::LoadEndpoints(folder.windowsPath()));
        ServerInfo().Clear();
        std::filesystem::create_directories(folder / "set" / "dt");
        vm::testing::WriteBytes(folder / "set" / "TreeList.mdb", CatalogueBytes(3, 1));
        vm::testing::WriteBytes(folder / "set" / "dt" / "list.htm",
                                "<html><body><div id=\"list\"></div></body></html>");

        const std::string version = G(u8"1.4 测试版");
        forum.SetEntry(G(u8"版本号"), "1");
        forum.SetEntry(G(u8"程序版本"), version);
        forum.SetEntry(G(u8"下载引擎版本"), "3");
        forum.SetEntry(G(u8"数据库版本"), "2");
        forum.SetEntry(G(u8"数据库地址"), forum.FilePage("db"));
        forum.SetFile("db",
                      vm::testing::SevenZipBytes({{"TreeList.mdb", CatalogueBytes(8, 2), {}}}));
        sys::WriteSetting(G(u8"下载引擎版本"), "3");
        sys::WriteSetting(G(u8"数据库版本"), "1");

        catalogue::CreateCatalogueObjects();
        ui::MainWindowHandlers handlers;
        handlers.created = [this](gui::Window& w) {
            window = &w;
            w.control(G(u8"透明标签_版本信息")).setText(G(u8"主程序版本：1.4 测试版"));
        };
        handlers.applyDownloadedCatalogue = [] { ApplyCatalogueArchive(false); };
        handlers.showList = [](int action, long long category) {
            catalogue::ShowList(action, category);
        };
        mainWindow = std::make_unique<ui::MainWindow>(handlers);
        mainWindow->Load(forum.Address());
        ASSERT_NE(window, nullptr);
        window->control(G(u8"超文本浏览框1")).navigate(folder.windowsPath() + "set\\dt\\list.htm");
        catalogue::StartCatalogue(*window);
    }
    void TearDown() override {
        catalogue::CloseCatalogue();
        catalogue::ReleaseCatalogueConnection();
        catalogue::ReleaseListState();
        catalogue::ReleaseCachedDocument();
        QtTest::TearDown();
        sys::SetProgramFolder({});
        sys::SetCurrentEndpoints(sys::DefaultEndpoints());
    }

    int TreeWidgetItems() {
        auto* tree = qobject_cast<QTreeWidget*>(gui::qt::WidgetOf(window->control(G(u8"树型框1"))));
        if (tree == nullptr)
            return -1;
        int count = 0;
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            ++count;
        return count;
    }

    vm::testing::TempFolder folder{"vm-update-qt"};
    TestForum forum;
    std::unique_ptr<ui::MainWindow> mainWindow;
    gui::Window* window = nullptr;
};

TEST_F(UpdateWindowQtTest, TheHintOffersTheNewCatalogueAndAClickShowsIt) {
    ASSERT_EQ(TreeWidgetItems(), 1 + 3);
    gui::Control& hint = window->control(G(u8"透明标签_状态提示条"));
    QWidget* hintWidget = gui::qt::WidgetOf(hint);
    ASSERT_NE(hintWidget, nullptr);
    EXPECT_FALSE(hintWidget->isVisible());

    kernel::Thread check = StartServerCheck();
    while (!check.Wait(0))
        app.processPending(20);
    app.processPending();
    // Header constants are UTF-8 in this file; the model holds GBK.
    EXPECT_EQ(hint.text(), G(u8"取回最新数据成功,点击此处更新!"));
    EXPECT_TRUE(hintWidget->isVisible());
    EXPECT_EQ(hintWidget->cursor().shape(), Qt::PointingHandCursor);
    ASSERT_TRUE(std::filesystem::exists(folder / "set" / "data.7z"));

    // The click runs the whole replacement, then the hint's five-second pause.
    QTest::mouseClick(hintWidget, Qt::LeftButton, {}, QPoint(10, 7));
    app.processPending();
    EXPECT_EQ(TreeWidgetItems(), 1 + 8);
    EXPECT_EQ(window->control(G(u8"树型框1")).itemCount(), 1 + 8);
    EXPECT_FALSE(std::filesystem::exists(folder / "set" / "data.7z"));
    EXPECT_TRUE(catalogue::LatestShown());
    EXPECT_EQ(hint.text(), "");
    EXPECT_FALSE(hintWidget->isVisible());
}

} // namespace
} // namespace vm::update
