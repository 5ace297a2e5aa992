// The main window's event table and message hook on the headless backend.

#include "ui/MainWindow.h"
#include "platform/gui/Headless.h"

#include <gtest/gtest.h>

namespace vm::ui {
namespace {

struct Calls {
    std::vector<std::pair<int, long long>> lists;
    int catalogueClosed = 0;
    int applied = 0;
    int updates = 0;
    long long page = 3;
    gui::Window* viewer = nullptr;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        gui::UseHeadless();
        MainWindowHandlers h;
        h.created = [this](gui::Window& w) { window_ = &w; };
        h.showList = [this](int action, long long category) {
            calls_.lists.emplace_back(action, category);
        };
        h.closeCatalogue = [this] { ++calls_.catalogueClosed; };
        h.applyDownloadedCatalogue = [this] { ++calls_.applied; };
        h.startProgramUpdate = [this] { ++calls_.updates; };
        h.viewerWindow = [this] { return calls_.viewer; };
        h.currentPage = [this] { return calls_.page; };
        main_ = std::make_unique<MainWindow>(std::move(h));
        main_->Load("http://forum.test");
        ASSERT_NE(window_, nullptr);
        main_->InstallHook(*window_);
    }
    gui::Control& C(std::string_view name) { return window_->control(name); }
    gui::Application& App() { return gui::Application::instance(); }

    Calls calls_;
    gui::Window* window_ = nullptr;
    std::unique_ptr<MainWindow> main_;
};

TEST_F(MainWindowTest, EveryControlAtItsGeometry) {
    const gui::WindowSpec spec = MainWindow::Spec("http://forum.test");
    EXPECT_EQ(spec.controls.size(), 30u);
    for (const gui::ControlSpec& c : spec.controls) {
        EXPECT_EQ(C(c.name).geometry(), c.geometry) << c.name;
        if (c.kind == gui::ControlKind::GraphicButton) {
            ASSERT_FALSE(c.pictures.empty()) << c.name;
            for (const auto& picture : c.pictures)
                EXPECT_FALSE(picture.empty()) << c.name;
        }
    }
    EXPECT_EQ(window_->geometry(), (gui::Rect{50, 50, 860, 540}));
    EXPECT_EQ(window_->className(), "Velum");
    EXPECT_EQ(C("超文本浏览框1").geometry(), (gui::Rect{-1, -1, 655, 385}));
    EXPECT_EQ(C("编辑框_搜索框").container(), "外形框1");
    EXPECT_EQ(C("透明标签_官方网址").text(), "官方网址：http://forum.test");
    EXPECT_EQ(C("透明标签_更新").text(), "最新版本");
    EXPECT_EQ(C("图形按钮_最大化").pictures().size(), 1u);
    EXPECT_GE(C("树型框1").imageList().size(), 5u);
}

TEST_F(MainWindowTest, CloseButtonEndsTheProgramThroughTheHook) {
    C("图形按钮_关闭").fire(gui::Event::Clicked);
    EXPECT_EQ(calls_.catalogueClosed, 1);
    EXPECT_TRUE(App().ended());
    EXPECT_EQ(App().exitCode(), 0);
    EXPECT_TRUE(gui::headless::ShownBoxes().empty());
}

TEST_F(MainWindowTest, CloseWithViewerOpenAsksFirst) {
    gui::WindowSpec viewerSpec;
    viewerSpec.className = "viewer";
    viewerSpec.geometry = {50, 50, 538, 408};
    gui::Window& viewer = App().loadWindow(viewerSpec, {}, window_);
    viewer.setTopMost(true);
    calls_.viewer = &viewer;

    gui::headless::QueueAnswer(gui::IDNO);
    EXPECT_EQ(window_->sendMessage(gui::WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(App().ended());
    EXPECT_TRUE(viewer.topMost());
    EXPECT_EQ(calls_.catalogueClosed, 0);
    ASSERT_EQ(gui::headless::ShownBoxes().size(), 1u);
    EXPECT_EQ(gui::headless::ShownBoxes()[0].text, "您还有未关闭的窗口,是否立即关闭本程序?");
    EXPECT_EQ(gui::headless::ShownBoxes()[0].caption, "Vellumark");
    EXPECT_EQ(gui::headless::ShownBoxes()[0].style, 0x44);

    gui::headless::QueueAnswer(gui::IDYES);
    window_->sendMessage(gui::WM_CLOSE, 0, 0);
    EXPECT_TRUE(App().ended());
    EXPECT_EQ(calls_.catalogueClosed, 1);
}

TEST_F(MainWindowTest, DownloadNoticeShowsTheCurrentPageAgainOnly) {
    for (long long wParam : {2LL, -1LL, 4LL, 0LL})
        EXPECT_EQ(window_->sendMessage(kDownloadFinishedMessage, wParam, 0), 0);
    EXPECT_TRUE(calls_.lists.empty());
    window_->sendMessage(kDownloadFinishedMessage, 3, 0);
    ASSERT_EQ(calls_.lists.size(), 1u);
    EXPECT_EQ(calls_.lists[0].first, kJumpToTypedPage);
    // Every other message reaches the previous procedure.
    window_->sendMessage(gui::WM_SYSCOMMAND, gui::SC_MINIMIZE, 0);
    EXPECT_TRUE(window_->minimised());
}

TEST_F(MainWindowTest, SearchBoxPromptAndEnter) {
    gui::Control& box = C("编辑框_搜索框");
    box.setText(kSearchPrompt);
    box.fire(gui::Event::GotFocus);
    EXPECT_EQ(box.text(), "");
    box.fire(gui::Event::LostFocus);
    EXPECT_EQ(box.text(), kSearchPrompt);

    box.fire(gui::Event::GotFocus);
    gui::headless::TypeText(box, "socket");
    EXPECT_TRUE(gui::headless::PressKey(box, 13));
    EXPECT_FALSE(gui::headless::PressKey(box, 'x'));
    EXPECT_EQ(box.text(), "socketx"); // Enter neither reached the box nor broke the line
    ASSERT_EQ(calls_.lists.size(), 1u);
    EXPECT_EQ(calls_.lists[0].first, kSearch);

    C("图形按钮_搜索").fire(gui::Event::Clicked);
    C("图形按钮_上").fire(gui::Event::Clicked);
    C("图形按钮_下").fire(gui::Event::Clicked);
    C("图形按钮_跳").fire(gui::Event::Clicked);
    C("图形按钮_跳1").fire(gui::Event::Clicked);
    std::vector<int> actions;
    for (const auto& call : calls_.lists)
        actions.push_back(call.first);
    EXPECT_EQ(actions, (std::vector<int>{kSearch, kSearch, kPreviousPage, kNextPage,
                                         kJumpToTypedPage, kRandomPicks}));
}

TEST_F(MainWindowTest, TreeActsOnUserChangesOnly) {
    gui::Control& tree = C("树型框1");
    const int latest = tree.addItem(0, "最近更新", 3, -1);
    const int category = tree.addItem(0, "网络", 0, 12);
    const int other = tree.addItem(0, "x", 0, -2);
    tree.setCurrentItem(category); // the program's own change
    EXPECT_TRUE(calls_.lists.empty());
    gui::headless::SelectItem(tree, latest, 2); // keyboard
    gui::headless::SelectItem(tree, category, 1);
    gui::headless::SelectItem(tree, other, 1);
    ASSERT_EQ(calls_.lists.size(), 2u);
    EXPECT_EQ(calls_.lists[0].first, kLatestUpdates);
    EXPECT_EQ(calls_.lists[1], (std::pair<int, long long>{kCategory, 12}));
}

TEST_F(MainWindowTest, StatusHint) {
    gui::Control& hint = C("透明标签_状态提示条");
    EXPECT_FALSE(hint.visible());
    ShowStatusHint("正在检查", {1, 2, 3}, false);
    EXPECT_TRUE(hint.visible());
    EXPECT_EQ(hint.textColour(), C("透明标签_版本信息").textColour());
    EXPECT_EQ(hint.cursor(), gui::CursorShape::Default);

    hint.fire(gui::Event::LeftButtonDown); // any other text: nothing
    EXPECT_EQ(calls_.applied, 0);

    ShowStatusHint(kCatalogueReadyHint, {255, 255, 255}, true);
    EXPECT_EQ(hint.textColour(), (gui::Colour{255, 255, 255}));
    EXPECT_EQ(hint.cursor(), gui::CursorShape::Hand);
    hint.fire(gui::Event::LeftButtonDown);
    EXPECT_EQ(calls_.applied, 1);
    EXPECT_EQ(hint.text(), "");
    EXPECT_FALSE(hint.visible());

    C("透明标签_更新").fire(gui::Event::LeftButtonDown);
    EXPECT_EQ(calls_.updates, 0);
    C("透明标签_更新").setText(kUpdateNowText);
    C("透明标签_更新").fire(gui::Event::LeftButtonDown);
    EXPECT_EQ(calls_.updates, 1);
}

TEST_F(MainWindowTest, NewWindowIsAlwaysCancelled) {
    EXPECT_FALSE(gui::headless::ClickNewWindowLink(C("超文本浏览框1"), "about:blank#xz#1"));
}

TEST_F(MainWindowTest, AboutAndSupportBoxes) {
    C("透明标签_关于").fire(gui::Event::LeftButtonDown);
    ASSERT_EQ(gui::headless::ShownBoxes().size(), 1u);
    EXPECT_EQ(gui::headless::ShownBoxes()[0].text.rfind("当前版本:1.4 测试版\r\n", 0), 0u);
    EXPECT_EQ(gui::headless::ShownBoxes()[0].style, 0);

    gui::headless::QueueAnswer(gui::IDNO);
    C("图形按钮_支持正版").fire(gui::Event::Clicked);
    ASSERT_EQ(gui::headless::ShownBoxes().size(), 2u);
    EXPECT_EQ(gui::headless::ShownBoxes()[1].style, 0x44);
}

} // namespace
} // namespace vm::ui
