#pragma once
// The main window: its control table, its event table, the status hint line, opening web
// pages and the hook on its message procedure.

#include "platform/gui/Gui.h"

#include <functional>
#include <string>
#include <string_view>

namespace vm::ui {

constexpr std::string_view kMainWindowClass = "Velum";
constexpr std::string_view kSearchPrompt = "请输入您要搜索的关键字";
constexpr std::string_view kVersionText = "主程序版本：1.4 测试版";
constexpr std::string_view kCatalogueReadyHint = "取回最新数据成功,点击此处更新!";
constexpr std::string_view kUpdateNowText = "立即更新";
inline constexpr unsigned kDownloadFinishedMessage = 48360;

// The list actions the window's controls ask for.
enum ListAction {
    kJumpToTypedPage = 1,
    kPreviousPage = 2,
    kNextPage = 3,
    kLatestUpdates = 4,
    kCategory = 5,
    kSearch = 6,
    kRandomPicks = 7,
};

// The logic behind the event table. Handlers left empty do nothing.
struct MainWindowHandlers {
    std::function<void(gui::Window&)> created; // the start-up sequence
    std::function<void()> firstActivated;      // the background server check
    std::function<void()> openSettings;        // the settings window, modal
    std::function<void(int action, long long category)> showList;
    std::function<void(gui::EventArgs&)> linkCommand; // a row's link; always cancels
    std::function<void()> applyDownloadedCatalogue;   // the clickable status hint
    std::function<void()> startProgramUpdate;         // "立即更新"
    std::function<gui::Window*()> viewerWindow;       // the viewer while it is loaded
    std::function<void()> closeCatalogue;
    std::function<long long()> currentPage;
};

class MainWindow {
public:
    explicit MainWindow(MainWindowHandlers handlers);

    // The window's description: every control with its design name, kind, container,
    // geometry, text, colour, font, cursor and pictures.
    static gui::WindowSpec Spec(std::string_view forumAddress);
    std::vector<gui::Binding> Bindings();
    // The tree box's image list: one image per level 1 to 4, then the latest-updates entry's.
    static std::vector<gui::Bytes> TreeImages();

    // Loads the window; its created handler runs before this returns.
    gui::Window& Load(std::string_view forumAddress);

    // Replaces the window's procedure with the hook and keeps the previous one.
    void InstallHook(gui::Window& window);
    long long Hook(gui::Window& window, unsigned message, long long wParam, long long lParam);

    static void ShowAbout();

private:
    gui::Window& Window() const;
    void ShowListFor(int action, long long category = 0) const;
    void OnTreeItemChanged(const gui::EventArgs& args);
    void OnStatusHintPressed();

    MainWindowHandlers handlers_;
    gui::Window::Procedure previous_;
};

// The status hint line at the foot of the main window. A clickable hint takes `colour` and the
// hand cursor; any other takes the version label's colour. Safe from any thread.
void ShowStatusHint(std::string_view text, gui::Colour colour, bool clickable);

// Opens an address in the user's browser; the result is not reported.
void OpenWebPage(std::string_view address);

} // namespace vm::ui
