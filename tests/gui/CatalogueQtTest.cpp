// The catalogue in the real main window: Qt widgets and the WebEngine list page, started on a
// catalogue written by the Jet 4 writer. The tree is checked in order, a category is clicked
// with the mouse and its rows are read back from the page through JavaScript, the page buttons
// and the search box are used as a user would, a row's category link is followed, and a
// screenshot of the rendered list is saved.

#include "actions/LinkCommand.h"
#include "app/WorkingFolder.h"
#include "catalogue/Catalogue.h"
#include "catalogue/ExchangeSort.h"
#include "gui/QtFixture.h"
#include "mdbwriter/Catalogue.h"
#include "support/TempFolder.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"

#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <QWebEngineView>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace vm::catalogue {
namespace {

using gui::testing::G;

class CatalogueQtTest : public gui::testing::QtTest {
protected:
    void SetUp() override {
        QtTest::SetUp();
        sys::SetProgramFolder(folder_.windowsPath());
        std::filesystem::create_directories(folder_.path() / "set" / "dt");
        mdbwriter::CatalogueShape shape;
        // VM_CATALOGUE_RESOURCES sizes the catalogue for a memory measurement (20 per category).
        const char* size = std::getenv("VM_CATALOGUE_RESOURCES");
        shape.resources = size ? std::atoi(size) : 1200;
        shape.categories = std::max(60, shape.resources / 50);
        shape.seed = 3;
        std::string error;
        ASSERT_TRUE(mdbwriter::WriteCatalogue((folder_.path() / "set" / "TreeList.mdb").string(),
                                              shape, &error))
            << error;
        app::WriteBuiltinPictures(folder_.windowsPath());
        CreateCatalogueObjects();

        ui::MainWindowHandlers h;
        h.created = [this](gui::Window& w) {
            window_ = &w;
            w.control(G(u8"编辑框_搜索框")).setText(G(u8"请输入您要搜索的关键字"));
            w.control(G(u8"超文本浏览框1")).navigate(app::WriteListPage(folder_.windowsPath()));
            StartCatalogue(w);
        };
        h.showList = [this](int action, long long category) {
            ++lists_;
            ShowList(action, category);
        };
        h.linkCommand = actions::DispatchLinkCommand;
        h.currentPage = [] { return CurrentPage(); };
        main_ = std::make_unique<ui::MainWindow>(std::move(h));
        main_->Load("http://127.0.0.1:9");
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        ReleaseCatalogueConnection();
        ReleaseListState();
        ReleaseCachedDocument();
        QtTest::TearDown();
    }

    gui::Control& C(const char8_t* name) { return window_->control(G(name)); }
    std::string Text(const char8_t* name) { return C(name).text(); } // GBK

    // A JavaScript expression's value in the list page.
    std::string Js(const std::string& expression) {
        const auto document = C(u8"超文本浏览框1").document();
        if (!document)
            return "<no document>";
        return text::GbkToUtf8(document->evaluate(expression).value_or("<undefined>"));
    }
    int RowsShown() {
        return std::atoi(Js("document.querySelectorAll('#list tr.dreamdu').length").c_str());
    }
    std::string FirstTitleShown() {
        return Js("document.querySelector('#list strong').textContent");
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            app.processPending(20);
        return done();
    }
    void ClickButton(const char8_t* name) {
        QTest::mouseClick(gui::qt::WidgetOf(C(name)), Qt::LeftButton, {}, QPoint(10, 10));
        app.processPending();
    }

    testing::TempFolder folder_{"vm-qt-catalogue"};
    gui::Window* window_ = nullptr;
    std::unique_ptr<ui::MainWindow> main_;
    int lists_ = 0;
};

TEST_F(CatalogueQtTest, BrowseTheCatalogueInTheRealWindow) {
    // The tree: "最近更新", then the top-level categories exchange-sorted by weight.
    auto* tree = qobject_cast<QTreeWidget*>(gui::qt::WidgetOf(C(u8"树型框1")));
    ASSERT_NE(tree, nullptr);
    const auto data = OpenCatalogueData();
    ASSERT_NE(data, nullptr);
    std::vector<CategoryNode> top;
    for (const auto row : data->LevelRows(1))
        top.push_back(data->Tree()[row]);
    ExchangeSortByWeight(top, [](const CategoryNode& c) { return c.weight; });
    ASSERT_EQ(tree->topLevelItemCount(), static_cast<int>(top.size()) + 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), QString::fromUtf8(u8"最近更新"));
    for (std::size_t i = 0; i < top.size(); ++i)
        EXPECT_EQ(tree->topLevelItem(static_cast<int>(i) + 1)->text(0).toStdString(),
                  text::GbkToUtf8(top[i].name));
    // Top-level entries are bold, their children not; the view starts at the top.
    EXPECT_TRUE(tree->topLevelItem(0)->font(0).bold());
    EXPECT_TRUE(tree->topLevelItem(1)->font(0).bold());
    ASSERT_GT(tree->topLevelItem(1)->childCount(), 0);
    EXPECT_FALSE(tree->topLevelItem(1)->child(0)->font(0).bold());
    EXPECT_EQ(tree->itemAt(tree->viewport()->rect().topLeft() + QPoint(4, 4)),
              tree->topLevelItem(0));

    // The latest updates are on the page.
    EXPECT_EQ(Text(u8"透明标签_页数标题"), G(u8"最近更新"));
    ASSERT_TRUE(WaitFor([&] { return RowsShown() == 8; })) << RowsShown();

    // A category with more than two pages, clicked with the mouse.
    long long category = 0;
    for (const CategoryNode& c : top)
        if (data->ResourcesOf(c.id).size() > 16 && category == 0)
            category = c.id;
    ASSERT_NE(category, 0);
    const std::string name = text::GbkToUtf8(CategoryName(data.get(), category));
    QTreeWidgetItem* item = tree->findItems(QString::fromStdString(name), Qt::MatchExactly)[0];
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    app.processPending();
    ASSERT_EQ(CurrentList().size(), data->ResourcesOf(category).size());
    EXPECT_EQ(RowsShown(), 8);
    EXPECT_EQ(FirstTitleShown(), text::GbkToUtf8(CurrentList()[0].title));
    EXPECT_EQ(Js("document.querySelectorAll('#list a[href*=\"#xz#\"], #list "
                 "a[href*=\"#ck#\"], #list a[href*=\"#js#\"]').length > 0"),
              "true");

    // Next, previous and a jump.
    ClickButton(u8"图形按钮_下");
    EXPECT_EQ(Text(u8"编辑框_页码"), "2");
    EXPECT_EQ(FirstTitleShown(), text::GbkToUtf8(CurrentList()[8].title));
    ClickButton(u8"图形按钮_上");
    EXPECT_EQ(Text(u8"编辑框_页码"), "1");
    auto* pageBox = qobject_cast<QLineEdit*>(gui::qt::WidgetOf(C(u8"编辑框_页码")));
    ASSERT_NE(pageBox, nullptr);
    pageBox->selectAll();
    QTest::keyClicks(pageBox, "3");
    ClickButton(u8"图形按钮_跳");
    EXPECT_EQ(CurrentPage(), 3);
    EXPECT_EQ(FirstTitleShown(), text::GbkToUtf8(CurrentList()[16].title));

    // Screenshot of a rendered page.
    app.processPending(300);
    const char* dir = std::getenv("VM_SCREENSHOT_DIR");
    const QString file = QString::fromUtf8(dir ? dir : ".") + "/catalogue_list.png";
    EXPECT_TRUE(gui::qt::WidgetOf(*window_)->grab().save(file));

    // Enter in the search box runs exactly one search.
    auto* search = qobject_cast<QLineEdit*>(gui::qt::WidgetOf(C(u8"编辑框_搜索框")));
    ASSERT_NE(search, nullptr);
    search->setFocus();
    app.processPending();
    search->selectAll();
    QTest::keyClicks(search, "12");
    const int before = lists_;
    QTest::keyClick(search, Qt::Key_Return);
    app.processPending();
    EXPECT_EQ(lists_, before + 1);
    EXPECT_EQ(Text(u8"透明标签_页数标题"), G(u8"搜索结果"));
    ASSERT_GT(CurrentList().size(), 9u);
    EXPECT_EQ(Js("document.querySelector('#list strong span span.em1').textContent"), "12")
        << Js("document.getElementById('list').innerHTML.substring(0, 1500)");

    // A row's category link shows that category at the page holding the resource.
    const ResourceRecord fifth = CurrentList()[4];
    // The click opens a new window, whose dispatch replaces the list while the script runs;
    // the script's own value is of no interest.
    ASSERT_EQ(Js("document.querySelectorAll('#list a[href*=\"#id#5#id#\"]').length"), "1");
    Js("document.querySelector('#list a[href*=\"#id#5#id#\"]').click()");
    ASSERT_TRUE(WaitFor([&] { return Text(u8"透明标签_页数标题") != G(u8"搜索结果"); }));
    EXPECT_EQ(CurrentPage(), PageOf(CurrentList(), fifth.number));
    bool onPage = false;
    const auto [first, last] = CurrentPageTable()[static_cast<std::size_t>(CurrentPage() - 1)];
    for (int i = first; i <= last; ++i)
        onPage = onPage || CurrentList()[static_cast<std::size_t>(i - 1)].number == fifth.number;
    EXPECT_TRUE(onPage);
    EXPECT_EQ(tree->currentItem(), nullptr);

    // For the record: the main process's peak memory with WebEngine running.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::printf("main process peak memory with WebEngine: %s\n", line.c_str() + 6);
}

} // namespace
} // namespace vm::catalogue
