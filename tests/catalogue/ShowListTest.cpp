// ShowList on the headless main window: titles, page count, page box, paging and its refusals,
// the queries behind each action, and the category tree.

#include "catalogue/ListWindow.h"
#include "catalogue/MemoryCatalogue.h"

#include <gtest/gtest.h>

namespace vm::catalogue {
namespace {

using testing::ListWindow;
using testing::MemoryCatalogue;

// Categories 1 (17 resources), 2 (3), 3 (none); titles name their category and position.
std::shared_ptr<const CatalogueData> Sample() {
    MemoryCatalogue m;
    m.Category(1, 1, 0, "Big").Category(2, 1, 0, "Small").Category(3, 2, 1, "Empty");
    for (int i = 1; i <= 17; ++i)
        m.Resource(1, "big" + std::to_string(i), 0, 100 + i).author = "ann";
    for (int i = 1; i <= 3; ++i)
        m.Resource(2, "small" + std::to_string(i), 0, 200 + i).author = "bob lee";
    m.tables().list.back().modified = 1'400'000'000; // the newest, alone in its week
    return m.Build();
}

class ShowListTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetCatalogueData(Sample());
        BuildTree(w_.C("树型框1"));
    }
    int Rows() {
        const std::string list = w_.List();
        int rows = 0;
        for (std::size_t at = 0; (at = list.find("<div id=\"bg\">", at)) != std::string::npos; ++at)
            ++rows;
        return rows;
    }
    ListWindow w_;
};

TEST_F(ShowListTest, LatestUpdates) {
    ShowList(ui::kLatestUpdates);
    EXPECT_EQ(w_.Title(), "最近更新");
    EXPECT_EQ(w_.PageCount(), "共：1页");
    EXPECT_EQ(w_.PageBox(), "1");
    EXPECT_EQ(Rows(), 1);
    EXPECT_NE(w_.List().find("small3"), std::string::npos);
    EXPECT_TRUE(LatestShown());
    EXPECT_EQ(w_.C("树型框1").currentItem(), 0);
    const auto scripts = gui::headless::ScriptsRun(w_.C("超文本浏览框1"));
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.back(), "DreamduColorRows()");
}

TEST_F(ShowListTest, PagingThroughSeventeen) {
    ShowList(ui::kCategory, 1);
    EXPECT_EQ(w_.Title(), "Big");
    EXPECT_EQ(w_.PageCount(), "共：3页");
    EXPECT_EQ(PageBoxLimit(), 3);
    EXPECT_EQ(Rows(), 8);
    EXPECT_FALSE(LatestShown());

    // Each step: the action, then the page expected (refusals leave everything as it was).
    struct Step {
        std::function<void()> act;
        long long page;
        int rows;
    };
    const std::vector<Step> steps = {
        {[&] { w_.Click("图形按钮_上"); }, 1, 8},
        {[&] { w_.Click("图形按钮_下"); }, 2, 8},
        {[&] { w_.Click("图形按钮_下"); }, 3, 1},
        {[&] { w_.Click("图形按钮_下"); }, 3, 1},
        {[&] { w_.TypePage("2"); }, 2, 8},
        {[&] { w_.TypePage("0"); }, 2, 8},
        {[&] { w_.TypePage("4"); }, 2, 8},
        {[&] { w_.TypePage("abc"); }, 2, 8},
        {[&] { w_.TypePage(" 3.9"); }, 3, 1},
        {[&] { w_.TypePage("99999999999999999999"); }, 3, 1},
        {[&] { w_.Click("图形按钮_上"); }, 2, 8},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        steps[i].act();
        EXPECT_EQ(CurrentPage(), steps[i].page) << "step " << i;
        EXPECT_EQ(Rows(), steps[i].rows) << "step " << i;
    }
    // A refused jump leaves the page box as the user typed it.
    w_.TypePage("7");
    EXPECT_EQ(w_.PageBox(), "7");
    EXPECT_EQ(CurrentPage(), 2);
}

TEST_F(ShowListTest, AnEmptyCategoryChangesNothing) {
    ShowList(ui::kCategory, 2);
    const std::string before = w_.List();
    ShowList(ui::kCategory, 3);
    EXPECT_EQ(w_.Title(), "Small");
    EXPECT_EQ(w_.List(), before);
    EXPECT_EQ(CurrentList().size(), 3u);
}

TEST_F(ShowListTest, LocatingAResourceShowsItsPageAndClearsTheTree) {
    gui::Control& tree = w_.C("树型框1");
    tree.setCurrentItem(tree.children(0)[1]);
    ShowList(ui::kCategory, 1, 110, true);
    EXPECT_EQ(CurrentPage(), 2);
    EXPECT_EQ(w_.PageBox(), "2");
    EXPECT_EQ(tree.currentItem(), 0);
    ShowList(ui::kCategory, 1, 999, true);
    EXPECT_EQ(CurrentPage(), 1);
}

TEST_F(ShowListTest, SearchFromTheBoxAndTheNotFoundText) {
    gui::Control& box = w_.C("编辑框_搜索框");
    // The prompt: only the focus moves.
    EXPECT_TRUE(gui::headless::PressKey(box, 13));
    EXPECT_TRUE(box.hasFocus());
    EXPECT_EQ(w_.Title(), "");

    gui::headless::TypeText(box, "BIG1");
    EXPECT_TRUE(gui::headless::PressKey(box, 13));
    EXPECT_EQ(w_.Title(), "搜索结果");
    EXPECT_EQ(CurrentList().size(), 9u); // big1, big10 .. big17
    EXPECT_TRUE(SearchOrRandomShown());
    EXPECT_NE(w_.List().find("<span class=\"em1\">big1</span>"), std::string::npos);

    gui::headless::TypeText(box, "xyz");
    w_.Click("图形按钮_搜索");
    EXPECT_TRUE(CurrentList().empty());
    EXPECT_EQ(w_.PageCount(), "");
    EXPECT_NE(w_.List().find("未找到关于\"xyz\"结果"), std::string::npos);
    EXPECT_NE(w_.List().find("#ss#xyz#ss#"), std::string::npos);

    // The search text left in the box marks later lists too.
    gui::headless::TypeText(box, "small");
    ShowList(ui::kCategory, 2);
    EXPECT_NE(w_.List().find("<span class=\"em1\">small</span>1"), std::string::npos);
}

TEST_F(ShowListTest, RandomPicks) {
    w_.Click("图形按钮_跳1");
    EXPECT_EQ(w_.Title(), "随便看看");
    EXPECT_EQ(CurrentList().size(), 8u);
    EXPECT_EQ(Rows(), 8);
    // Category links, as for a search.
    EXPECT_NE(w_.List().find("#id#1#id#"), std::string::npos);
}

TEST_F(ShowListTest, NothingMovesWhileTheCatalogueIsBusy) {
    ShowList(ui::kCategory, 1);
    SetCatalogueBusy(true);
    w_.Click("图形按钮_下");
    ShowList(ui::kLatestUpdates);
    EXPECT_EQ(CurrentPage(), 1);
    EXPECT_EQ(w_.Title(), "Big");
    SetCatalogueBusy(false);
    w_.Click("图形按钮_下");
    EXPECT_EQ(CurrentPage(), 2);
}

TEST_F(ShowListTest, ClickingACategoryInTheTreeShowsIt) {
    gui::Control& tree = w_.C("树型框1");
    gui::headless::SelectItem(tree, tree.children(0)[2], 1); // "Small"
    EXPECT_EQ(w_.Title(), "Small");
    gui::headless::SelectItem(tree, tree.children(0)[0], 1); // "最近更新"
    EXPECT_EQ(w_.Title(), "最近更新");
}

// --- the tree ---------------------------------------------------------------------------------

struct TreeShape {
    std::vector<std::string> lines; // "  " per depth, then the text
    std::vector<std::string> expanded;
};

TreeShape Shape(const gui::Control& tree) {
    TreeShape shape;
    const std::function<void(int, int)> walk = [&](int parent, int depth) {
        for (const int item : tree.children(parent)) {
            shape.lines.push_back(std::string(2 * depth, ' ') + tree.itemText(item));
            if (tree.expanded(item))
                shape.expanded.push_back(tree.itemText(item));
            walk(item, depth + 1);
        }
    };
    walk(0, 0);
    return shape;
}

TEST(TreeTest, LevelsWeightsOrphansAndGaps) {
    ListWindow w;
    MemoryCatalogue m;
    m.Category(10, 1, 0, "C", 3).Category(11, 1, 0, "A", 1).Category(12, 1, 0, "B", 2);
    m.Category(20, 2, 11, "A2", 5).Category(21, 2, 11, "A1", 5).Category(22, 2, 99, "orphan2");
    m.Category(30, 3, 20, "A2x").Category(31, 3, 77, "orphan3");
    m.Category(50, 5, 40, "gap child"); // level 4 is empty: its parent is missing
    SetCatalogueData(m.Build());
    gui::Control& tree = w.C("树型框1");
    BuildTree(tree);
    const TreeShape shape = Shape(tree);
    // Equal weights take the order the exchange procedure gives them: the lighter orphan2
    // arriving last rotates A2 behind A1.
    EXPECT_EQ(shape.lines, (std::vector<std::string>{"最近更新", "A", "  A1", "  A2", "    A2x",
                                                     "B", "C", "orphan2", "orphan3", "gap child"}));
    // The first two level-1 rows in table order, not the first two shown.
    EXPECT_EQ(shape.expanded, (std::vector<std::string>{"A", "C"}));
    const int latest = tree.children(0)[0];
    EXPECT_EQ(tree.itemValue(latest), -1);
    EXPECT_EQ(tree.itemImage(latest), 4);
    EXPECT_EQ(tree.itemImage(tree.children(0)[1]), 0);
    EXPECT_EQ(tree.itemImage(tree.children(tree.children(0)[1])[0]), 1);
    EXPECT_EQ(tree.itemValue(tree.children(0)[1]), 11);
    // Bold: the latest entry and the level-1 categories, not orphans lifted to the top level.
    std::vector<std::string> bold;
    for (const int item : tree.children(0))
        if (tree.itemBold(item))
            bold.push_back(tree.itemText(item));
    EXPECT_EQ(bold, (std::vector<std::string>{"最近更新", "A", "B", "C"}));
    EXPECT_FALSE(tree.itemBold(tree.children(tree.children(0)[1])[0]));
    // The tree is scrolled back to its top once built.
    EXPECT_EQ(tree.itemMadeVisible(), latest);
}

TEST(TreeTest, OneTopLevelCategoryStaysCollapsedAndAnEmptyTableLeavesTheLatestEntry) {
    ListWindow w;
    gui::Control& tree = w.C("树型框1");
    MemoryCatalogue one;
    one.Category(1, 1, 0, "only").Category(2, 2, 1, "child");
    SetCatalogueData(one.Build());
    BuildTree(tree);
    EXPECT_TRUE(Shape(tree).expanded.empty());

    SetCatalogueData(MemoryCatalogue().Build());
    BuildTree(tree);
    EXPECT_EQ(Shape(tree).lines, (std::vector<std::string>{"最近更新"}));
    SetCatalogueData(nullptr);
    BuildTree(tree);
    EXPECT_EQ(Shape(tree).lines, (std::vector<std::string>{"最近更新"}));
}

} // namespace
} // namespace vm::catalogue
