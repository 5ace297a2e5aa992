// The browser control on Qt WebEngine: local pages, the document's members, new windows.

#include "QtFixture.h"
#include "platform/gui/detail/Paths.h"
#include "support/LoopbackHttp.h"

#include <QWidget>

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

// The pages are drawn in software: showing one must not load an OpenGL driver into the process
// (on a machine without a GPU, Mesa's LLVM rasteriser: some 58 MB resident), and the
// programs the process starts must not inherit the switch that keeps it out.
TEST_F(QtBrowser, APageIsShownWithoutAnOpenGLDriverInTheProcess) {
    if (std::getenv("DISPLAY") == nullptr || std::getenv("QT_QUICK_BACKEND") != nullptr)
        GTEST_SKIP() << "only the X11 plugin opens GLX";
    ASSERT_NE(Load(detail::WindowsPath((folder / "list.htm").string())), nullptr);
    EXPECT_EQ(std::getenv("QT_XCB_GL_INTEGRATION"), nullptr);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        EXPECT_EQ(line.find("/dri/"), std::string::npos) << line;
        EXPECT_EQ(line.find("libGLX_mesa"), std::string::npos) << line;
        EXPECT_EQ(line.find("libLLVM"), std::string::npos) << line;
    }
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

// A page with scripts, as the list page is, tries every way to a file beside its folder and to
// an address outside it; only its own pictures load.
TEST_F(QtBrowser, LocalPageReachesOnlyItsOwnFolder) {
    std::filesystem::create_directories(folder / "dt");
    std::ofstream(folder / "secret.txt", std::ios::binary) << "SECRET-7f3a";
    std::ofstream(folder / "secret.html", std::ios::binary)
        << "<body style=\"background:#ff00ff\">SECRET-7f3a</body>";
    std::ofstream(folder / "dt" / "own.png", std::ios::binary) << Picture(8, 8, Qt::green);
    std::ofstream(folder / "out.png", std::ios::binary) << Picture(8, 8, Qt::green);
    std::ofstream(folder / "dt" / "page.htm", std::ios::binary)
        << "<html><body><div id=\"list\"></div>"
           "<img id=\"own\" src=\"own.png\"><img id=\"out\" src=\"../out.png\">"
           "<iframe id=\"f\" src=\"../secret.html\"></iframe><script>"
           "var r=[];try{var x=new XMLHttpRequest();x.open('GET','../secret.txt',false);x.send();"
           "r.push('xhr:'+x.responseText);}catch(e){r.push('xhr refused');}"
           "fetch('../secret.txt').then(function(t){return t.text();})"
           ".then(function(t){r.push('fetch:'+t);},function(){r.push('fetch refused');});"
           "</script></body></html>";
    auto document = Load(detail::WindowsPath((folder / "dt" / "page.htm").string()));
    ASSERT_NE(document, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (document->evaluate("r.length") != "2" && std::chrono::steady_clock::now() < deadline)
        app.processPending(20);
    const auto results = document->evaluate("r.join('|')");
    ASSERT_TRUE(results);
    EXPECT_EQ(results->find("SECRET"), std::string::npos) << *results;
    EXPECT_EQ(document->evaluate("document.getElementById('own').naturalWidth"), "8");
    EXPECT_EQ(document->evaluate("document.getElementById('out').naturalWidth"), "0");
    EXPECT_EQ(document->evaluate("var d=document.getElementById('f').contentDocument;"
                                 "String(d&&d.documentElement.outerHTML).indexOf('SECRET')"),
              "-1");

    // The page navigating itself to a file it was not sent to stays where it is.
    document->execScript("location.href='../secret.html'");
    QWidget* view = qt::WidgetOf(window->control("web"));
    for (int i = 0; i < 50; ++i)
        app.processPending(20);
    EXPECT_NE(window->control("web").locationUrl().find("page.htm"), std::string::npos);
    const QImage shot = view->grab().toImage();
    int magenta = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            magenta += shot.pixelColor(x, y) == QColor(255, 0, 255);
    EXPECT_EQ(magenta, 0);

    // A page from the web cannot send the browser to a local file either.
    vm::testing::LoopbackHttpServer web([&](const vm::testing::ReceivedRequest&,
                                            vm::testing::HttpPeer& peer) {
        peer.Send(vm::testing::LoopbackHttpServer::Response(200, "Content-Type: text/html\r\n",
                                                            "<body><a id=\"go\" href=\"file://" +
                                                                (folder / "secret.html").string() +
                                                                "\">x</a></body>"));
    });
    auto remote = Load(web.Url("/remote.html"));
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(remote->execScript("document.getElementById('go').click()"));
    for (int i = 0; i < 50; ++i)
        app.processPending(20);
    EXPECT_NE(window->control("web").locationUrl().find("remote.html"), std::string::npos);
}

} // namespace
