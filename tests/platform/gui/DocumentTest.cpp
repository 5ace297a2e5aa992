// Browser targets, the headless document and the small HTML scanner behind it.

#include "platform/gui/Headless.h"
#include "platform/gui/detail/Html.h"
#include "platform/gui/detail/Paths.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace vm::gui;

namespace {

std::string G(std::u8string_view utf8) {
    return vm::text::Gbk(utf8);
}

std::string U(std::u8string_view utf8) {
    return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

TEST(GuiPaths, WindowsPathsBecomeLinuxPaths) {
    struct Case {
        std::string windows, linux;
    };
    const Case cases[] = {
        {"Z:\\home\\a\\list.htm", "/home/a/list.htm"},
        {"z:/tmp/x", "/tmp/x"},
        {"Z:", "/"},
        {"set\\dt\\list.htm", "set/dt/list.htm"},
        {G(u8"Z:\\资源目录\\源码\\a.7z"), U(u8"/资源目录/源码/a.7z")},
        // 0x815C is one GBK character whose trail byte is the "\" byte.
        {"Z:\\a\x81\x5c\\b", vm::text::GbkToUtf8("/a\x81\x5c") + "/b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(detail::LinuxPath(c.windows), c.linux) << c.windows;
    EXPECT_EQ(detail::WindowsPath(U(u8"/tmp/资源目录/a")), G(u8"Z:\\tmp\\资源目录\\a"));
}

TEST(GuiPaths, SchemesAreNotDrives) {
    EXPECT_TRUE(detail::HasScheme("http://127.0.0.1/"));
    EXPECT_TRUE(detail::HasScheme("about:blank"));
    EXPECT_TRUE(detail::HasScheme("file:///tmp/a"));
    EXPECT_FALSE(detail::HasScheme("Z:\\tmp\\a"));
    EXPECT_FALSE(detail::HasScheme("set\\dt\\list.htm"));
    EXPECT_FALSE(detail::HasScheme("1x:y"));
}

TEST(GuiHtml, InnerHtmlOfElementById) {
    struct Case {
        std::string html, id;
        std::optional<std::string> inner;
    };
    const Case cases[] = {
        {"<div id=\"list\">abc</div>", "list", "abc"},
        {"<DIV ID='list' class=x>a<div>b</div>c</DIV>tail", "list", "a<div>b</div>c"},
        {"<div id=list><div id=inner>x</div></div>", "inner", "x"},
        {"<p id=\"a\">open", "a", "open"},
        {"<input id=\"q\" value=\"v\"><b>x</b>", "q", ""},
        {"<br id=\"b\"/>", "b", ""},
        {"<br id=b/>", "b/", ""},
        {"<!-- <div id=\"list\">no</div> --><div id=\"list\">yes</div>", "list", "yes"},
        {"<script>var s='<div id=\"list\">';</script><div id=\"list\">real</div>", "list", "real"},
        {"<div id=\"List\">case</div>", "list", std::nullopt},
        {"<div id=\"list\"", "list", std::nullopt},
        {"a < b and <3 <div id=x>1 < 2</div>", "x", "1 < 2"},
    };
    for (const auto& c : cases) {
        const auto range = detail::FindInnerHtml(c.html, c.id);
        ASSERT_EQ(range.has_value(), c.inner.has_value()) << c.html;
        if (range) {
            EXPECT_EQ(c.html.substr(range->begin, range->end - range->begin), *c.inner) << c.html;
        }
    }
}

TEST(GuiHtml, DeclaredCharset) {
    EXPECT_EQ(detail::DeclaredCharset("<meta charset=\"UTF-8\">"), "utf-8");
    EXPECT_EQ(detail::DeclaredCharset(
                  "<meta http-equiv=Content-Type content=\"text/html; charset=gb2312\">"),
              "gb2312");
    EXPECT_EQ(detail::DeclaredCharset("<body><meta charset=gbk>"), "");
}

class GuiBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        UseHeadless();
        folder = std::filesystem::temp_directory_path() /
                 std::filesystem::path(U(u8"vm gui 测试 ") + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "list.htm", std::ios::binary)
            << U(u8"<html><head><meta charset=\"utf-8\"></head><body>"
                 u8"<div id=\"title\">最新</div><div id=\"list\"></div></body></html>");
        WindowSpec spec;
        spec.className = "Velum";
        spec.controls = {{.name = "frame", .kind = ControlKind::ShapeBox},
                         {.name = "web", .kind = ControlKind::Browser, .container = "frame"}};
        window = &Application::instance().loadWindow(spec, {});
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::filesystem::path folder;
    Window* window = nullptr;
};

TEST_F(GuiBrowser, LoadsAFileAndEditsItsDocument) {
    Control& web = window->control("web");
    web.navigate(detail::WindowsPath((folder / "list.htm").string()));
    EXPECT_TRUE(web.busy());
    EXPECT_EQ(web.document(), nullptr);
    Application::instance().processPending();
    EXPECT_FALSE(web.busy());
    auto document = web.document();
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->innerHtml("title"), G(u8"最新"));
    EXPECT_EQ(document->innerHtml("list"), "");
    EXPECT_EQ(document->innerHtml("missing"), std::nullopt);
    EXPECT_TRUE(document->setInnerHtml("list", G(u8"<table><tr><td>行</td></tr></table>")));
    EXPECT_FALSE(document->setInnerHtml("missing", "x"));
    EXPECT_EQ(document->innerHtml("list"), G(u8"<table><tr><td>行</td></tr></table>"));
    EXPECT_TRUE(document->execScript("DreamduColorRows()", "JavaScript"));
    EXPECT_EQ(headless::ScriptsRun(web), std::vector<std::string>{"DreamduColorRows()"});
    EXPECT_NE(headless::PageText(web).find(G(u8"<td>行</td>")), std::string::npos);

    // A new page invalidates the old document.
    web.navigate("about:blank");
    EXPECT_EQ(document->innerHtml("title"), std::nullopt);
    EXPECT_FALSE(document->setInnerHtml("list", "x"));
}

TEST_F(GuiBrowser, MissingFileGivesNoDocument) {
    Control& web = window->control("web");
    web.navigate(detail::WindowsPath((folder / "none.htm").string()));
    Application::instance().processPending();
    EXPECT_FALSE(web.busy());
    EXPECT_EQ(web.document(), nullptr);
}

TEST_F(GuiBrowser, NewWindowCanBeCancelled) {
    std::string seen;
    WindowSpec spec;
    spec.className = "viewer";
    spec.controls = {{.name = "web", .kind = ControlKind::Browser}};
    Window& viewer = Application::instance().loadWindow(
        spec, {{"web", Event::NewWindow, [&](EventArgs& args) {
                    seen = args.address;
                    args.cancel = args.address.find("#xz#") != std::string::npos;
                }}});
    EXPECT_FALSE(
        headless::ClickNewWindowLink(viewer.control("web"), "file:///x/list.htm#xz#3#xz#"));
    EXPECT_EQ(seen, "file:///x/list.htm#xz#3#xz#");
    EXPECT_TRUE(headless::ClickNewWindowLink(viewer.control("web"), "http://127.0.0.1/"));
}

} // namespace
