// The viewer window on the headless backend: owned by the main window, reused while loaded,
// and its browser covering the client area whatever size the window takes.

#include "ui/ViewerWindow.h"
#include "platform/gui/Headless.h"

#include <gtest/gtest.h>

namespace vm::ui {
namespace {

TEST(ViewerWindowTest, LoadedOnceOwnedAndBrowserFollowsEveryResize) {
    gui::UseHeadless();
    gui::Application& app = gui::Application::instance();
    gui::Window& main = app.loadWindow({.className = "Velum", .geometry = {50, 50, 860, 540}}, {});
    EXPECT_EQ(ViewerWindow::Loaded(), nullptr);

    gui::Window& viewer = ViewerWindow::Load(main);
    EXPECT_EQ(ViewerWindow::Loaded(), &viewer);
    EXPECT_EQ(&ViewerWindow::Load(main), &viewer);
    EXPECT_EQ(viewer.parent(), &main);
    EXPECT_FALSE(viewer.modal());
    EXPECT_FALSE(viewer.visible()); // the showing places it first
    EXPECT_EQ(viewer.title(), "");
    EXPECT_EQ(viewer.border(), gui::Border::Normal);
    EXPECT_EQ(viewer.geometry(), (gui::Rect{50, 50, 538, 408}));
    EXPECT_EQ(ViewerWindow::Browser(viewer).kind(), gui::ControlKind::Browser);

    for (const gui::Rect size : {gui::Rect{10, 20, 700, 460}, gui::Rect{10, 20, 120, 80},
                                 gui::Rect{300, 200, 1280, 900}}) {
        viewer.setGeometry(size);
        EXPECT_EQ(ViewerWindow::Browser(viewer).geometry(),
                  (gui::Rect{-1, -1, size.width + 1, size.height + 1}));
    }

    // Closed by the user, the next showing loads a new one.
    viewer.sendMessage(gui::WM_CLOSE, 0, 0);
    EXPECT_FALSE(viewer.loaded());
    EXPECT_TRUE(main.loaded());
    EXPECT_EQ(ViewerWindow::Loaded(), nullptr);
    gui::Window& again = ViewerWindow::Load(main);
    EXPECT_NE(&again, &viewer);
    EXPECT_TRUE(again.loaded());
}

} // namespace
} // namespace vm::ui
