#pragma once
// The main window on the headless backend, wired to the catalogue as the program wires it,
// with the list page loaded from a program folder of its own.

#include "catalogue/Catalogue.h"
#include "platform/gui/Headless.h"
#include "platform/text/Codepage.h"
#include "support/TempFolder.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace vm::catalogue::testing {

class ListWindow {
public:
    // `linkCommand` handles the browser's new-window event (the link commands live above the
    // catalogue).
    explicit ListWindow(std::function<void(gui::EventArgs&)> linkCommand = {}) {
        gui::UseHeadless();
        sys::SetProgramFolder(folder_.windowsPath());
        std::filesystem::create_directories(folder_.path() / "set" / "dt");
        vm::testing::WriteBytes(folder_.path() / "set" / "dt" / "list.htm",
                                "<html><body><div id=\"list\"></div></body></html>");
        ReleaseListState();
        ReleaseCachedDocument();
        SetCatalogueBusy(false);
        ui::MainWindowHandlers h;
        h.created = [this](gui::Window& w) {
            window_ = &w;
            w.control("编辑框_搜索框").setText(ui::kSearchPrompt);
            w.control("超文本浏览框1").navigate(folder_.windowsPath() + "set\\dt\\list.htm");
        };
        h.showList = [](int action, long long category) { ShowList(action, category); };
        h.linkCommand = std::move(linkCommand);
        h.currentPage = [] { return CurrentPage(); };
        main_ = std::make_unique<ui::MainWindow>(std::move(h));
        main_->Load("http://forum.test");
    }
    ~ListWindow() { SetCatalogueData(nullptr); }

    gui::Window& window() { return *window_; }
    gui::Control& C(std::string_view name) { return window_->control(name); }
    const vm::testing::TempFolder& folder() const { return folder_; }

    // What the element "list" holds now.
    std::string List() {
        const auto document = C("超文本浏览框1").document();
        return document ? document->innerHtml("list").value_or("<missing>") : "<no document>";
    }
    std::string Title() { return C("透明标签_页数标题").text(); }
    std::string PageCount() { return C("透明标签_页数").text(); }
    std::string PageBox() { return C("编辑框_页码").text(); }
    void TypePage(std::string_view page) {
        gui::headless::TypeText(C("编辑框_页码"), page);
        C("图形按钮_跳").fire(gui::Event::Clicked);
    }
    void Click(std::string_view button) { C(button).fire(gui::Event::Clicked); }

private:
    vm::testing::TempFolder folder_{"vm-list"};
    gui::Window* window_ = nullptr;
    std::unique_ptr<ui::MainWindow> main_;
};

} // namespace vm::catalogue::testing
