#include "ui/MainWindow.h"

#include "platform/kernel/Thread.h"
#include "platform/shell/Shell.h"
#include "sys/Endpoints.h"

namespace vm::ui {
namespace {

using gui::Event;
using gui::EventArgs;

constexpr std::string_view kStatusHint = "透明标签_状态提示条";
constexpr std::string_view kVersionLabel = "透明标签_版本信息";
constexpr std::string_view kSearchBox = "编辑框_搜索框";
constexpr std::string_view kTree = "树型框1";
constexpr std::string_view kPageBox = "编辑框_页码";
constexpr int kEnterKey = 13;
constexpr int kPageUpKey = 33;
constexpr int kPageDownKey = 34;

gui::Application& App() {
    return gui::Application::instance();
}

gui::Window* LoadedMainWindow() {
    gui::Window* window = App().findWindow(kMainWindowClass);
    return window != nullptr && window->loaded() ? window : nullptr;
}

} // namespace

MainWindow::MainWindow(MainWindowHandlers handlers) : handlers_(std::move(handlers)) {}

gui::Window& MainWindow::Window() const {
    return *LoadedMainWindow();
}

gui::Window& MainWindow::Load(std::string_view forumAddress) {
    return App().loadWindow(Spec(forumAddress), Bindings());
}

void MainWindow::ShowListFor(int action, long long category) const {
    if (handlers_.showList)
        handlers_.showList(action, category);
}

std::vector<gui::Binding> MainWindow::Bindings() {
    const auto click = [](std::function<void()> action) {
        return [action = std::move(action)](EventArgs&) { action(); };
    };
    const auto forumPage = [](std::string path) {
        return [path = std::move(path)](EventArgs&) {
            OpenWebPage(sys::CurrentEndpoints().forum + path);
        };
    };
    std::vector<gui::Binding> b;
    b.push_back({"", Event::Created, [this](EventArgs&) {
                     Window().control(kTree).setImageList(TreeImages());
                     if (handlers_.created)
                         handlers_.created(*App().findWindow(kMainWindowClass));
                 }});
    b.push_back({"", Event::FirstActivated, [this](EventArgs&) {
                     if (handlers_.firstActivated)
                         handlers_.firstActivated();
                 }});
    b.push_back({"图形按钮_最小化", Event::Clicked, click([this] { Window().minimise(); })});
    b.push_back({"图形按钮_关闭", Event::Clicked,
                 click([this] { Window().sendMessage(gui::WM_CLOSE, 0, 0); })});
    b.push_back({"透明标签_设置", Event::LeftButtonDown, click([this] {
                     if (handlers_.openSettings)
                         handlers_.openSettings();
                 })});
    b.push_back({"透明标签_关于", Event::LeftButtonDown, click(&MainWindow::ShowAbout)});
    b.push_back({"图形按钮_在线交流", Event::Clicked,
                 click([] { OpenWebPage(sys::CurrentEndpoints().ChatRoomPage()); })});
    b.push_back({"图形按钮_在线提问", Event::Clicked, forumPage("/forum-81-1.html")});
    b.push_back({"图形按钮_分享资源", Event::Clicked, forumPage("/thread-118062-1-1.html")});
    b.push_back({"图形按钮_问题反馈", Event::Clicked, forumPage("/thread-118071-1-1.html")});
    b.push_back({"图形按钮_支持正版", Event::Clicked, click([] {
                     const int answer = App().messageBox(
                         "有经济能力的朋友请支持正版Tessel,点是将前往支持页面", "", 0x44);
                     if (answer == gui::IDYES)
                         OpenWebPage(sys::CurrentEndpoints().vendor + "/buy.htm");
                 })});
    b.push_back({std::string(kSearchBox), Event::GotFocus, [this](EventArgs&) {
                     gui::Control& box = Window().control(kSearchBox);
                     if (box.text() == kSearchPrompt)
                         box.setText("");
                 }});
    b.push_back({std::string(kSearchBox), Event::LostFocus, [this](EventArgs&) {
                     gui::Control& box = Window().control(kSearchBox);
                     if (box.text().empty())
                         box.setText(kSearchPrompt);
                 }});
    b.push_back({std::string(kSearchBox), Event::KeyDown, [this](EventArgs& args) {
                     if (args.key != kEnterKey)
                         return;
                     args.swallow = true;
                     ShowListFor(kSearch);
                 }});
    // Enter in the page box jumps as 跳转 does; PageUp and PageDown anywhere in the window
    // page the list as 上一页 and 下一页 do.
    b.push_back({std::string(kPageBox), Event::KeyDown, [this](EventArgs& args) {
                     if (args.key != kEnterKey)
                         return;
                     args.swallow = true;
                     ShowListFor(kJumpToTypedPage);
                 }});
    b.push_back({"", Event::KeyDown, [this](EventArgs& args) {
                     if (args.key != kPageUpKey && args.key != kPageDownKey)
                         return;
                     args.swallow = true;
                     ShowListFor(args.key == kPageUpKey ? kPreviousPage : kNextPage);
                 }});
    b.push_back({"图形按钮_搜索", Event::Clicked, click([this] { ShowListFor(kSearch); })});
    b.push_back({std::string(kTree), Event::CurrentItemChanged,
                 [this](EventArgs& args) { OnTreeItemChanged(args); }});
    b.push_back({std::string(kTree), Event::MouseMoved, [this](EventArgs&) {
                     // Without focus the wheel would not scroll the tree.
                     const bool viewerLoaded =
                         handlers_.viewerWindow && handlers_.viewerWindow() != nullptr;
                     if (!viewerLoaded)
                         Window().control(kTree).setFocus();
                 }});
    b.push_back({"超文本浏览框1", Event::NewWindow, [this](EventArgs& args) {
                     args.cancel = true;
                     if (handlers_.linkCommand)
                         handlers_.linkCommand(args);
                     args.cancel = true;
                 }});
    b.push_back({"图形按钮_上", Event::Clicked, click([this] { ShowListFor(kPreviousPage); })});
    b.push_back({"图形按钮_下", Event::Clicked, click([this] { ShowListFor(kNextPage); })});
    b.push_back({"图形按钮_跳", Event::Clicked, click([this] { ShowListFor(kJumpToTypedPage); })});
    b.push_back({"图形按钮_跳1", Event::Clicked, click([this] { ShowListFor(kRandomPicks); })});
    b.push_back({std::string(kStatusHint), Event::LeftButtonDown,
                 click([this] { OnStatusHintPressed(); })});
    b.push_back({"透明标签_更新", Event::LeftButtonDown, click([this] {
                     if (Window().control("透明标签_更新").text() == kUpdateNowText &&
                         handlers_.startProgramUpdate)
                         handlers_.startProgramUpdate();
                 })});
    b.push_back({"透明标签_官方网址", Event::LeftButtonDown,
                 click([] { OpenWebPage(sys::CurrentEndpoints().forum); })});
    return b;
}

void MainWindow::OnTreeItemChanged(const gui::EventArgs& args) {
    // A change made by the user, with the mouse (1) or the keyboard (2), shows the list; the
    // program's own changes (0) while it fills the tree do not.
    if (args.cause != 1 && args.cause != 2)
        return;
    gui::Control& tree = Window().control(kTree);
    const long long value = tree.itemValue(tree.currentItem());
    if (value >= 0)
        ShowListFor(kCategory, value);
    else if (value == -1)
        ShowListFor(kLatestUpdates);
}

void MainWindow::OnStatusHintPressed() {
    if (Window().control(kStatusHint).text() != kCatalogueReadyHint)
        return;
    if (handlers_.applyDownloadedCatalogue)
        handlers_.applyDownloadedCatalogue();
    kernel::WaitDispatching(5000);
    ShowStatusHint("", {}, false);
}

void MainWindow::ShowAbout() {
    App().messageBox("当前版本:1.4 测试版\r\n"
                     "作者：Vellumark 开发组\r\n"
                     "版权所有：Lanternhall 论坛 " +
                         sys::CurrentEndpoints().forum +
                         "\r\n\r\n"
                         "感谢论坛的各位会员为本程序提供资源、测试和建议！",
                     "", 0);
}

void MainWindow::InstallHook(gui::Window& window) {
    previous_ = window.procedure();
    window.setProcedure([this](gui::Window& w, unsigned message, long long wParam,
                               long long lParam) { return Hook(w, message, wParam, lParam); });
}

long long MainWindow::Hook(gui::Window& window, unsigned message, long long wParam,
                           long long lParam) {
    if (message == gui::WM_CLOSE) {
        gui::Window* viewer = handlers_.viewerWindow ? handlers_.viewerWindow() : nullptr;
        if (viewer != nullptr) {
            viewer->setTopMost(false);
            const int answer =
                App().messageBox("您还有未关闭的窗口,是否立即关闭本程序?", "Vellumark", 0x44);
            if (answer != gui::IDYES) {
                viewer->setTopMost(true);
                return 0;
            }
        }
        window.setProcedure(previous_);
        if (handlers_.closeCatalogue)
            handlers_.closeCatalogue();
        App().endProgram(0);
        return 0;
    }
    if (message == kDownloadFinishedMessage) {
        if (handlers_.currentPage && wParam == handlers_.currentPage())
            ShowListFor(kJumpToTypedPage);
        return 0;
    }
    return window.callProcedure(previous_, message, wParam, lParam);
}

void ShowStatusHint(std::string_view text, gui::Colour colour, bool clickable) {
    gui::Window* window = LoadedMainWindow();
    if (window == nullptr)
        return;
    gui::Control& hint = window->control(kStatusHint);
    hint.setText(text);
    if (clickable) {
        hint.setTextColour(colour);
        hint.setCursor(gui::CursorShape::Hand);
    } else {
        hint.setTextColour(window->control(kVersionLabel).textColour());
        hint.setCursor(gui::CursorShape::Default);
    }
    hint.setVisible(!text.empty());
}

void OpenWebPage(std::string_view address) {
    shell::ShellExecute("open", address, "", "", 5);
}

} // namespace vm::ui
