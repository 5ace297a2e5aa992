#pragma once
// The viewer window: one browser control in which introductions and videos are shown.
// Modeless and owned by the main window; loaded by the first showing and reused until the
// user closes it.

#include "platform/gui/Gui.h"

#include <string_view>
#include <vector>

namespace vm::ui {

constexpr std::string_view kViewerWindowClass = "VelumViewer";

class ViewerWindow {
public:
    static gui::WindowSpec Spec();
    static std::vector<gui::Binding> Bindings();

    // The viewer while it is loaded, else null.
    static gui::Window* Loaded();
    // The loaded viewer, or a new one owned by `owner`, hidden until the caller places it.
    static gui::Window& Load(gui::Window& owner);

    // Its browser control "超文本浏览框1".
    static gui::Control& Browser(gui::Window& viewer);

    // The browser covers the client area and overlaps it by one pixel at the left and top,
    // where the control would otherwise draw its own frame.
    static void FitBrowser(gui::Window& viewer);
};

} // namespace vm::ui
