#include "ui/ViewerWindow.h"

namespace vm::ui {
namespace {

constexpr std::string_view kBrowser = "超文本浏览框1";

gui::Application& App() {
    return gui::Application::instance();
}

} // namespace

gui::WindowSpec ViewerWindow::Spec() {
    gui::WindowSpec spec;
    spec.className = std::string(kViewerWindowClass);
    spec.geometry = {50, 50, 538, 408};
    spec.border = gui::Border::Normal;
    // Every showing places the window first; showing it at its designed place would flash.
    spec.visible = false;
    gui::ControlSpec browser;
    browser.name = std::string(kBrowser);
    browser.kind = gui::ControlKind::Browser;
    browser.geometry = {32, 32, 412, 274};
    spec.controls = {browser};
    return spec;
}

std::vector<gui::Binding> ViewerWindow::Bindings() {
    return {{"", gui::Event::Resized, [](gui::EventArgs&) {
                 if (gui::Window* viewer = Loaded())
                     FitBrowser(*viewer);
             }}};
}

gui::Window* ViewerWindow::Loaded() {
    return App().findWindow(kViewerWindowClass);
}

gui::Window& ViewerWindow::Load(gui::Window& owner) {
    if (gui::Window* viewer = Loaded())
        return *viewer;
    return App().loadWindow(Spec(), Bindings(), &owner, false);
}

gui::Control& ViewerWindow::Browser(gui::Window& viewer) {
    return viewer.control(kBrowser);
}

void ViewerWindow::FitBrowser(gui::Window& viewer) {
    const gui::Rect client = viewer.geometry();
    Browser(viewer).setGeometry({-1, -1, client.width + 1, client.height + 1});
}

} // namespace vm::ui
