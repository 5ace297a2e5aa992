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

#include <chrono>
#include <filesystem>
#include <functional>

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
    EXPECT_EQ(Evaluate("document.querySelector('embed').getAttribute('src')"),
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
