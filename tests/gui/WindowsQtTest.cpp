// The settings and viewer windows as a user meets them: real Qt widgets opened from the real
// main window, pages rendered by the real browser, screenshots of both windows.

#include "actions/ResourcePage.h"
#include "gui/QtFixture.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "ui/SettingsWindow.h"
#include "ui/ViewerWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

namespace vm::ui {
namespace {

using gui::testing::G;
using Clock = std::chrono::steady_clock;

// Screenshots go beside the test binary in the build folder unless the environment names
// another folder.
QString ScreenshotPath(const char* name) {
    const char* dir = std::getenv("VM_SCREENSHOT_DIR");
    const std::filesystem::path folder =
        dir ? std::filesystem::path(dir)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return QString::fromStdString((folder / name).string());
}

class WindowsQtTest : public gui::testing::QtTest {
protected:
    void SetUp() override {
        QtTest::SetUp();
        setenv("VM_PLAYER_DIR", VM_PLAYER_DIR, 1);
        std::filesystem::create_directories(folder_ / "set" / "dt");
        sys::SetProgramFolder(folder_.windowsPath());
        MainWindowHandlers h;
        h.created = [this](gui::Window& w) { window_ = &w; };
        h.openSettings = [this] {
            SettingsWindow(SettingsWindowHandlers{}).Load(window_);
            settingsClosed_ = true;
        };
        h.viewerWindow = [] { return ViewerWindow::Loaded(); };
        h.closeCatalogue = [this] { ++catalogueClosed_; };
        main_ = std::make_unique<MainWindow>(std::move(h));
        main_->Load(G(u8"http://127.0.0.1:9"));
        ASSERT_NE(window_, nullptr);
        main_->InstallHook(*window_);
    }
    void TearDown() override {
        QtTest::TearDown();
        sys::SetProgramFolder({});
        sys::SetCurrentEndpoints(sys::DefaultEndpoints());
    }

    // Turns the loop until `done` holds or 30 s have passed.
    bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!done() && Clock::now() < deadline)
            app.processPending(20);
        return done();
    }
    gui::Control& Browser() { return ViewerWindow::Browser(*ViewerWindow::Loaded()); }
    // The shown page's script value, once the page has loaded.
    std::optional<std::string> Evaluate(const char* expression) {
        gui::Control& browser = Browser();
        if (!WaitFor([&] { return !browser.busy() && browser.document() != nullptr; }))
            return std::nullopt;
        return browser.document()->evaluate(expression);
    }
    // Lets the browser paint before a screenshot.
    void Settle(int ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < until)
            app.processPending(20);
    }

    testing::TempFolder folder_{"vm-windows-qt"};
    gui::Window* window_ = nullptr;
    std::unique_ptr<MainWindow> main_;
    bool settingsClosed_ = false;
    int catalogueClosed_ = 0;
};

// Each line of the body's text, with four leading non-breaking spaces shown as ">".
constexpr const char* kIndentedLines = "document.body.innerText.split('\\n').map(function(l){"
                                       "return l.replace(/^\\u00a0{4}/, '>');}).join('|')";

TEST_F(WindowsQtTest, SettingsFromTheLabelShowStoredChoicesAndSaveOnTitleBarClose) {
    sys::WriteSetting(G(u8"下载方式"), "0");
    sys::WriteSetting(G(u8"下载打开"), "1");
    sys::WriteSetting(G(u8"下载关闭"), "0");

    bool checked = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        gui::Window* settings = app.findWindow(kSettingsWindowClass);
        if (!settings || checked)
            return;
        QWidget* top = gui::qt::WidgetOf(*settings);
        if (!top || !top->isVisible())
            return;
        checked = true;
        const auto button = [&](const char8_t* name) {
            return static_cast<QAbstractButton*>(gui::qt::WidgetOf(settings->control(G(name))));
        };
        EXPECT_TRUE(top->isModal());
        EXPECT_EQ(top->size(), QSize(337, 257));
        EXPECT_EQ(top->windowTitle(), QString::fromUtf8(u8"设置"));
        EXPECT_FALSE(button(u8"单选框1")->isChecked());
        EXPECT_TRUE(button(u8"单选框2")->isChecked());
        EXPECT_TRUE(button(u8"选择框1")->isChecked());
        EXPECT_FALSE(button(u8"选择框1")->isEnabled());
        EXPECT_FALSE(button(u8"选择框2")->isEnabled());
        EXPECT_EQ(button(u8"按钮3")->text(), QString::fromUtf8(u8"修复下载引擎"));
        EXPECT_EQ(button(u8"按钮2")->geometry(), QRect(113, 20, 93, 22));
        EXPECT_TRUE(top->grab().save(ScreenshotPath("settings_window.png")));

        QTest::mouseClick(button(u8"单选框1"), Qt::LeftButton, {}, QPoint(6, 11));
        EXPECT_TRUE(button(u8"选择框2")->isEnabled());
        QTest::mouseClick(button(u8"选择框2"), Qt::LeftButton, {}, QPoint(6, 8));
        EXPECT_TRUE(button(u8"选择框2")->isChecked());
        EXPECT_FALSE(button(u8"单选框2")->isChecked());
        top->close(); // what the title bar's close button does
    });
    poll.start();
    QWidget* label = gui::qt::WidgetOf(window_->control(G(u8"透明标签_设置")));
    ASSERT_NE(label, nullptr);
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(10, 7));
    EXPECT_TRUE(WaitFor([&] { return settingsClosed_; }));
    poll.stop();

    EXPECT_TRUE(checked);
    EXPECT_EQ(app.findWindow(kSettingsWindowClass), nullptr);
    EXPECT_TRUE(window_->loaded());
    EXPECT_EQ(sys::ReadSetting(G(u8"下载方式")), "1");
    EXPECT_EQ(sys::ReadSetting(G(u8"下载打开")), "1");
    EXPECT_EQ(sys::ReadSetting(G(u8"下载关闭")), "1");
    // The next download goes through the engine.
    EXPECT_TRUE(sys::CurrentDownloadSettings().viaEngine);
    EXPECT_TRUE(sys::CurrentDownloadSettings().closeDialogAfter);
}

TEST_F(WindowsQtTest, EscapeClosesTheSettingsLikeTheTitleBar) {
    sys::WriteSetting(G(u8"下载方式"), "1");
    bool pressed = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        gui::Window* settings = app.findWindow(kSettingsWindowClass);
        QWidget* top = settings ? gui::qt::WidgetOf(*settings) : nullptr;
        if (pressed || !top || !top->isVisible())
            return;
        pressed = true;
        auto* webPage =
            static_cast<QAbstractButton*>(gui::qt::WidgetOf(settings->control(G(u8"单选框2"))));
        QTest::mouseClick(webPage, Qt::LeftButton, {}, QPoint(6, 11));
        // Escape where the focus is, as a user presses it.
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == top ? focus : top, Qt::Key_Escape);
    });
    poll.start();
    QTest::mouseClick(gui::qt::WidgetOf(window_->control(G(u8"透明标签_设置"))), Qt::LeftButton, {},
                      QPoint(10, 7));
    EXPECT_TRUE(WaitFor([&] { return settingsClosed_; }));
    poll.stop();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(app.findWindow(kSettingsWindowClass), nullptr);
    EXPECT_TRUE(window_->loaded());
    EXPECT_EQ(sys::ReadSetting(G(u8"下载方式")), "0");
}

TEST_F(WindowsQtTest, ViewerShowsThreeIndentedLinesAndKeepsTheBrowserFilling) {
    const std::string indent = "&nbsp;&nbsp;&nbsp;&nbsp;";
    actions::ShowResourcePage(G(u8"第一行") + "<br />" + indent + G(u8"第二行") + "<br />" +
                                  indent + G(u8"第三行"),
                              G(u8"示例"), "");
    gui::Window* viewer = ViewerWindow::Loaded();
    ASSERT_NE(viewer, nullptr);
    QWidget* top = gui::qt::WidgetOf(*viewer);
    QWidget* browser = gui::qt::WidgetOf(Browser());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(Evaluate(kIndentedLines), G(u8">第一行|>第二行|>第三行"));
    EXPECT_EQ(top->windowTitle(), QString::fromUtf8(u8"详细介绍:示例"));
    EXPECT_TRUE(top->isVisible());
    EXPECT_EQ(top->parentWidget(), gui::qt::WidgetOf(*window_));
    EXPECT_EQ(top->size(), QSize(700, 460));
    EXPECT_EQ(browser->geometry(), QRect(-1, -1, 701, 461));
    Settle(500);
    EXPECT_TRUE(top->grab().save(ScreenshotPath("viewer_window.png")));

    for (const QSize size : {QSize(500, 320), QSize(900, 600), QSize(240, 160)}) {
        top->resize(size);
        app.processPending();
        EXPECT_EQ(browser->geometry(), QRect(-1, -1, size.width() + 1, size.height() + 1));
        EXPECT_EQ(Browser().geometry(), (gui::Rect{-1, -1, size.width() + 1, size.height() + 1}));
    }

    // The same page file shown again takes the new introduction.
    actions::ShowResourcePage(G(u8"另一段"), G(u8"示例二"), "");
    EXPECT_EQ(ViewerWindow::Loaded(), viewer);
    EXPECT_EQ(Evaluate(kIndentedLines), G(u8">另一段"));
    EXPECT_EQ(top->size(), QSize(700, 460));
}

TEST_F(WindowsQtTest, VideoPageAndBlogArticleInTheViewer) {
    actions::ShowResourcePage("", G(u8"视频"), "http://127.0.0.1:9/player.swf");
    EXPECT_EQ(Evaluate("document.querySelector('embed,ruffle-embed').getAttribute('src')"),
              "http://127.0.0.1:9/player.swf");
    EXPECT_EQ(gui::qt::WidgetOf(*ViewerWindow::Loaded())->windowTitle(),
              QString::fromUtf8(u8"观看视频:视频"));

    const std::string article =
        text::GbkToUtf8(std::string(actions::kArticleStart) + G(u8"<p id=\"a\">博客里的介绍</p>") +
                        std::string(actions::ArticleAdvert()) + std::string(actions::kArticleEnd));
    testing::LoopbackHttpServer blog([&](const testing::ReceivedRequest&, testing::HttpPeer& peer) {
        peer.Send(testing::LoopbackHttpServer::Response(200, "", "<html>" + article + "</html>"));
    });
    sys::Endpoints endpoints = sys::DefaultEndpoints();
    endpoints.blogPrefix = blog.Url("");
    sys::SetCurrentEndpoints(endpoints);
    actions::ShowResourcePage(blog.Url("/s/blog_1.html"), G(u8"文章"), "");
    EXPECT_EQ(Evaluate("document.getElementById('a').textContent"), G(u8"博客里的介绍"));
    EXPECT_EQ(Evaluate("document.body.innerText.indexOf('Vellumark')"), "-1");
}

// Pixels of exactly this colour in a grab of the widget.
int CountColour(QWidget* widget, QColor colour) {
    const QImage shot = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += shot.pixelColor(x, y) == colour;
    return count;
}

// Catalogue text and articles from plain http are anybody's: an introduction keeps its
// formatting and runs nothing, and no file of the user's reaches the viewer.
TEST_F(WindowsQtTest, HostileIntroductionKeepsItsFormattingAndReachesNothing) {
    testing::TempFolder home{"vm-home"};
    const std::string secret = (home / "secret.html").string();
    testing::WriteBytes(home / "secret.html",
                        "<body style=\"background:#ff00ff\">SECRET-51c9</body>");
    std::vector<std::string> asked;
    std::mutex mutex;
    testing::LoopbackHttpServer web(
        [&](const testing::ReceivedRequest& request, testing::HttpPeer& peer) {
            {
                std::lock_guard lock(mutex);
                asked.push_back(request.target);
            }
            peer.Send(testing::LoopbackHttpServer::Response(200, "Content-Type: text/html\r\n",
                                                            "<body id=\"remote\">remote</body>"));
        });
    const std::string leak = web.Url("/leak");
    const std::string hostile =
        G(u8"<b id=\"b\">粗体</b><br /><font id=\"f\" color=\"#0000ff\">蓝色</font>"
          u8"<table id=\"t\"><tr><td>格</td></tr></table>") +
        "<script>var x=new XMLHttpRequest();x.open('GET','file://" + secret +
        "',false);x.send();document.title=x.responseText;new Image().src='" + leak +
        "?s';</script><img src=\"nothing.png\" onerror=\"document.body.id='ran';new "
        "Image().src='" +
        leak + "?e'\"><iframe src=\"file://" + secret +
        "\" width=\"300\" height=\"200\"></iframe><a id=\"a\" href=\"" + web.Url("/page") +
        "\">link</a>";
    actions::ShowResourcePage(hostile, G(u8"危险"), "");
    gui::Window* viewer = ViewerWindow::Loaded();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(Evaluate("document.getElementById('b').tagName"), "B");
    EXPECT_EQ(Evaluate("getComputedStyle(document.getElementById('f')).color"), "rgb(0, 0, 255)");
    EXPECT_EQ(Evaluate("document.getElementById('t').rows.length"), "1");
    Settle(1500);
    EXPECT_EQ(Evaluate("document.title"), "");
    EXPECT_EQ(Evaluate("document.body.id"), "");
    QWidget* view = gui::qt::WidgetOf(Browser());
    EXPECT_EQ(CountColour(view, QColor(255, 0, 255)), 0);
    EXPECT_TRUE(gui::qt::WidgetOf(*viewer)->grab().save(ScreenshotPath("viewer_hostile.png")));

    // A refresh to a local file leaves the introduction where it is.
    actions::ShowResourcePage("<meta http-equiv=\"refresh\" content=\"0;url=file://" + secret +
                                  "\">" + G(u8"刷新"),
                              G(u8"刷新"), "");
    Settle(1500);
    const auto shown = Evaluate("document.body.innerText");
    ASSERT_TRUE(shown);
    EXPECT_NE(shown->find(G(u8"刷新")), std::string::npos);
    EXPECT_NE(Browser().locationUrl().find("js.html"), std::string::npos);
    EXPECT_EQ(CountColour(view, QColor(255, 0, 255)), 0);
    {
        std::lock_guard lock(mutex);
        for (const std::string& target : asked)
            EXPECT_EQ(target.find("/leak"), std::string::npos) << target;
    }

    // A plain link goes on in the viewer, where the web page runs as anywhere.
    actions::ShowResourcePage(hostile, G(u8"危险"), "");
    ASSERT_TRUE(Evaluate("document.title"));
    // The navigation the click starts may end the call before it answers.
    Browser().document()->execScript("document.getElementById('a').click()");
    EXPECT_TRUE(
        WaitFor([&] { return Browser().locationUrl().find("/page") != std::string::npos; }));
    EXPECT_EQ(Evaluate("document.body.id"), "remote");
    EXPECT_EQ(Evaluate("typeof window.setTimeout"), "function");
}

// Articles too large, too deep or in a broken encoding are shown or left empty, and the main
// window keeps answering.
TEST_F(WindowsQtTest, OversizedDeepAndBrokenArticlesNeverHangTheProgram) {
    const std::string start(actions::kArticleStart);
    const std::string end(actions::kArticleEnd);
    std::string big = start;
    while (big.size() < 10 * 1024 * 1024)
        big += "<p>" + std::string(200, 'x') + "</p>";
    big += "<p id=\"last\">end</p>" + end;
    std::string deep = start;
    for (int i = 0; i < 5000; ++i)
        deep += "<div><span>";
    deep += "<b id=\"last\">deep</b>" + end;
    const std::string broken = start + "<p id=\"last\">\xff\xfe\xc3\x28\xe4\xb8</p>" + end;
    const std::map<std::string, std::string> pages = {
        {"/big.html", big}, {"/deep.html", deep}, {"/broken.html", broken}};
    testing::LoopbackHttpServer blog(
        [&](const testing::ReceivedRequest& request, testing::HttpPeer& peer) {
            const auto it = pages.find(request.target);
            peer.Send(testing::LoopbackHttpServer::Response(200, "Content-Type: text/html\r\n",
                                                            it == pages.end() ? "" : it->second));
        });
    sys::Endpoints endpoints = sys::DefaultEndpoints();
    endpoints.blogPrefix = blog.Url("");
    sys::SetCurrentEndpoints(endpoints);
    for (const auto& [path, page] : pages) {
        const auto start = Clock::now();
        actions::ShowResourcePage(blog.Url(path), G(u8"文章"), "");
        EXPECT_TRUE(Evaluate("document.readyState")) << path;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)) << path;
        std::printf("%s shown in %lld ms\n", path.c_str(),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                            .count()));
        // The main window still answers a script call on its own.
        EXPECT_TRUE(gui::qt::WidgetOf(*window_)->isVisible());
        const auto last = Evaluate("String(document.getElementById('last'))");
        EXPECT_TRUE(last) << path;
    }
}

// A quote in a video address would end the embed's attribute; the address stays one value.
TEST_F(WindowsQtTest, HostileVideoAddressStaysInsideTheEmbed) {
    std::atomic<int> leaks = 0;
    testing::LoopbackHttpServer web(
        [&](const testing::ReceivedRequest& request, testing::HttpPeer& peer) {
            if (request.target.find("leak") != std::string::npos &&
                request.target.find("movie") == std::string::npos)
                ++leaks;
            peer.Send(testing::LoopbackHttpServer::Response(404, "", ""));
        });
    const std::string address = web.Url("/movie.swf") + "' onload='document.title=1'><img src='" +
                                web.Url("/leak") + "' onerror='document.title=2'><script>" +
                                "document.title=3</script><embed src='t_地址";
    actions::ShowResourcePage("", G(u8"视频"), G(std::u8string(address.begin(), address.end())));
    EXPECT_EQ(Evaluate("document.querySelectorAll('img').length"), "0");
    EXPECT_EQ(Evaluate("document.querySelectorAll('embed,ruffle-embed').length"), "1");
    EXPECT_EQ(Evaluate("document.querySelector('embed,ruffle-embed').getAttribute('src')"),
              G(std::u8string(address.begin(), address.end())));
    Settle(1000);
    EXPECT_EQ(Evaluate("document.title"), "");
    EXPECT_EQ(leaks.load(), 0);
}

// The relay of the video shown answers on its port while the video shows, and not after.
bool Listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Pixels within a few steps of `colour` in an image.
int CountNear(const QImage& shot, QColor colour) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                         std::abs(c.blue() - colour.blue()) <=
                     12;
        }
    return count;
}

// A movie made by the demo's own generator.
std::string Movie(const std::string& background, const std::string& colour) {
    testing::TempFolder scratch{"vm-movie"};
    const std::string out = (scratch / "m.swf").string();
    const std::string command = "python3 '" + std::string(VM_SOURCE_DIR) + "/tools/demo/swf.py' '" +
                                out + "' --background " + background + " --colour " + colour;
    if (std::system(command.c_str()) != 0)
        return {};
    return testing::ReadBytes(out);
}

TEST_F(WindowsQtTest, VideoPlaysOnItsOwnAndStopsWithTheViewer) {
    const std::string movie = Movie("2060c0", "f0a010");
    ASSERT_FALSE(movie.empty());
    testing::LoopbackHttpServer site(
        [&](const testing::ReceivedRequest& request, testing::HttpPeer& peer) {
            if (request.target == "/v/1.swf")
                peer.Send(testing::LoopbackHttpServer::Response(
                    200, "Content-Type: application/x-shockwave-flash\r\n", movie));
            else if (request.target == "/v/page.swf")
                peer.Send(testing::LoopbackHttpServer::Response(200, "Content-Type: text/html\r\n",
                                                                "<html>not a movie</html>"));
            else
                peer.Send(testing::LoopbackHttpServer::Response(404, "", ""));
        });
    const auto start = Clock::now();
    actions::ShowResourcePage("", G(u8"视频"), site.Url("/v/1.swf"));
    ASSERT_TRUE(WaitFor([&] {
        return Evaluate("document.documentElement.getAttribute('data-vm-playing')") == "1";
    }));
    QWidget* view = gui::qt::WidgetOf(Browser());
    // The canvas draws the first frame shortly after the player reports the movie.
    ASSERT_TRUE(WaitFor([&] {
        const QImage shot = view->grab().toImage();
        return CountNear(shot, QColor(0xf0, 0xa0, 0x10)) > 5000 &&
               CountNear(shot, QColor(0x20, 0x60, 0xc0)) > 20000;
    }));
    std::printf(
        "click to first frame: %lld ms\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
    EXPECT_TRUE(gui::qt::WidgetOf(*ViewerWindow::Loaded())
                    ->grab()
                    .save(ScreenshotPath("viewer_video.png")));
    // look.html is still the template with the address put in.
    const std::string page = testing::ReadBytes(folder_ / "set" / "dt" / "look.html");
    EXPECT_NE(page.find("<embed src='" + site.Url("/v/1.swf") + "'  type="), std::string::npos);

    const auto base = Evaluate("RufflePlayer.config.publicPath");
    ASSERT_TRUE(base);
    const int port = std::stoi(base->substr(std::string("http://127.0.0.1:").size()));
    EXPECT_TRUE(Listening(port));
    // An introduction shown in its place ends the movie and its relay.
    actions::ShowResourcePage(G(u8"介绍"), G(u8"示例"), "");
    ASSERT_TRUE(Evaluate("document.body.innerText"));
    EXPECT_FALSE(Listening(port));

    // What cannot play says so in one line, with the address to open in the browser.
    for (const std::string path : {"/v/missing.swf", "/v/page.swf"}) {
        actions::ShowResourcePage("", G(u8"视频"), site.Url(path));
        ASSERT_TRUE(WaitFor([&] {
            return Evaluate("String(document.getElementById('vm-unplayable'))") != "null";
        })) << path;
        EXPECT_EQ(Evaluate("document.getElementById('vm-unplayable').firstChild.data"),
                  G(u8"这个视频无法播放，可以在浏览器中打开："));
        EXPECT_EQ(Evaluate("document.querySelector('#vm-unplayable a').href"), site.Url(path));
        EXPECT_EQ(Evaluate("document.querySelector('#vm-unplayable a').target"), "_blank");
    }
    Settle(500);
    EXPECT_EQ(Evaluate("document.querySelectorAll('ruffle-embed,embed').length"), "0");
    EXPECT_TRUE(gui::qt::WidgetOf(*ViewerWindow::Loaded())
                    ->grab()
                    .save(ScreenshotPath("viewer_unplayable.png")));

    // So does a missing player.
    testing::TempFolder none{"vm-no-player"};
    setenv("VM_PLAYER_DIR", none.path().c_str(), 1);
    actions::ShowResourcePage("", G(u8"视频"), site.Url("/v/1.swf"));
    EXPECT_TRUE(WaitFor(
        [&] { return Evaluate("String(document.getElementById('vm-unplayable'))") != "null"; }));
    setenv("VM_PLAYER_DIR", VM_PLAYER_DIR, 1);

    // Closing the viewer ends a movie that plays.
    actions::ShowResourcePage("", G(u8"视频"), site.Url("/v/1.swf"));
    ASSERT_TRUE(WaitFor([&] {
        return Evaluate("document.documentElement.getAttribute('data-vm-playing')") == "1";
    }));
    const auto again = Evaluate("RufflePlayer.config.publicPath");
    ASSERT_TRUE(again);
    const int second = std::stoi(again->substr(std::string("http://127.0.0.1:").size()));
    EXPECT_TRUE(Listening(second));
    ViewerWindow::Loaded()->close();
    app.processPending();
    EXPECT_FALSE(Listening(second));
}

TEST_F(WindowsQtTest, ClosingTheMainWindowWithTheViewerOpenAsksFirst) {
    actions::ShowResourcePage(G(u8"介绍"), G(u8"示例"), "");
    gui::Window* viewer = ViewerWindow::Loaded();
    ASSERT_NE(viewer, nullptr);
    QWidget* top = gui::qt::WidgetOf(*viewer);

    for (const QMessageBox::StandardButton press : {QMessageBox::No, QMessageBox::Yes}) {
        bool onTopWhileAsking = true;
        QString question;
        QTimer answer;
        answer.setInterval(20);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            question = box->text();
            onTopWhileAsking = top->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            box->button(press)->click();
        });
        answer.start();
        window_->sendMessage(gui::WM_CLOSE, 0, 0);
        answer.stop();
        EXPECT_EQ(question, QString::fromUtf8(u8"您还有未关闭的窗口,是否立即关闭本程序?"));
        EXPECT_FALSE(onTopWhileAsking);
        if (press == QMessageBox::No) {
            EXPECT_FALSE(app.ended());
            EXPECT_TRUE(viewer->loaded());
            EXPECT_TRUE(top->isVisible());
            EXPECT_TRUE(top->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            EXPECT_EQ(catalogueClosed_, 0);
        }
    }
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(catalogueClosed_, 1);
}

} // namespace
} // namespace vm::ui
