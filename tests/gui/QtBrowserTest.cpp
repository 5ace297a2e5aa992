// The browser control on Qt WebEngine: local pages, the document's members, new windows.

#include "QtFixture.h"
#include "platform/gui/detail/Paths.h"

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace vm::gui;
using namespace vm::gui::testing;

namespace {

std::string U(std::u8string_view utf8) {
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

class QtBrowser : public QtTest {
protected:
    void SetUp() override {
        QtTest::SetUp();
        folder = std::filesystem::temp_directory_path() /
                 std::filesystem::path(U(u8"vm qt 浏览 ") + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "list.htm", std::ios::binary)
            << U(u8"<html><head><meta charset=\"utf-8\"><script>"
                 u8"function mark(){document.title='marked';}</script></head><body>"
                 u8"<div id=\"title\">最新更新</div><div id=\"list\"></div>"
                 u8"<a id=\"dl\" href=\"#xz#3#xz#\" target=\"_blank\">下载</a></body></html>");
        WindowSpec spec;
        spec.className = "Velum";
        spec.geometry = {0, 0, 400, 300};
        spec.controls = {
            {.name = "frame", .kind = ControlKind::ShapeBox, .geometry = {0, 0, 400, 300}},
            {.name = "web",
             .kind = ControlKind::Browser,
             .container = "frame",
             .geometry = {-1, -1, 402, 302}}};
        window = &app.loadWindow(spec, {{"web", Event::NewWindow, [this](EventArgs& args) {
                                             newWindows.push_back(args.address);
                                             args.cancel = true;
                                         }}});
    }
    void TearDown() override {
        QtTest::TearDown();
        std::filesystem::remove_all(folder);
    }

    // Navigates and waits for the document; WebEngine is waited for through the loop only.
    std::shared_ptr<Document> Load(const std::string& target) {
        Control& web = window->control("web");
        web.navigate(target);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((web.busy() || !web.document()) && std::chrono::steady_clock::now() < deadline)
            app.processPending(20);
        return web.document();
    }

    std::filesystem::path folder;
    Window* window = nullptr;
    std::vector<std::string> newWindows;
};

TEST_F(QtBrowser, ReadsAndWritesTheDocumentOfALocalPage) {
    auto document = Load(detail::WindowsPath((folder / "list.htm").string()));
    ASSERT_NE(document, nullptr);
    EXPECT_NE(document->url().find("list.htm"), std::string::npos);
    EXPECT_EQ(document->innerHtml("title"), G(u8"最新更新"));
    EXPECT_EQ(document->innerHtml("none"), std::nullopt);
    const std::string rows = G(u8"<b>第一行</b><i>\"引号\" \\ 'x'</i>");
    EXPECT_TRUE(document->setInnerHtml("list", rows));
    EXPECT_EQ(document->innerHtml("list"), rows);
    EXPECT_FALSE(document->setInnerHtml("none", "x"));

    EXPECT_TRUE(document->execScript("mark()", "JavaScript"));
    EXPECT_EQ(document->evaluate("document.title"), "marked");
    EXPECT_FALSE(document->execScript("no_such_function()", "JavaScript"));
    EXPECT_FALSE(document->execScript("mark()", "VBScript"));

    // Another page makes the old document useless, never dangerous.
    auto blank = Load("about:blank");
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(document->innerHtml("title"), std::nullopt);
    EXPECT_FALSE(document->setInnerHtml("list", "x"));
}

TEST_F(QtBrowser, TargetBlankLinkRaisesNewWindowWithItsAddress) {
    auto document = Load(detail::WindowsPath((folder / "list.htm").string()));
    ASSERT_NE(document, nullptr);
    EXPECT_TRUE(document->execScript("document.getElementById('dl').click()", "JavaScript"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (newWindows.empty() && std::chrono::steady_clock::now() < deadline)
        app.processPending(20);
    ASSERT_EQ(newWindows.size(), 1u);
    EXPECT_NE(newWindows[0].find("list.htm#xz#3#xz#"), std::string::npos) << newWindows[0];
    // The cancelled window never replaced the page.
    EXPECT_EQ(document->innerHtml("title"), G(u8"最新更新"));
}

} // namespace
