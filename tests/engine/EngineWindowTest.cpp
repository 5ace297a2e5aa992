// The engine's window on real Qt widgets: a finished download, a failure that stays on screen,
// and the sizes it shows.

#include "engine/window/EngineWindow.h"
#include "engine/Engine.h"
#include "platform/text/Codepage.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace vm::engine {
namespace {

using testing::HttpPeer;
using testing::LoopbackHttpServer;
using testing::ReceivedRequest;

QApplication& App() {
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "engine_window_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics would otherwise go before it at exit.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

QString Screenshots() {
    const char* dir = std::getenv("VM_SCREENSHOT_DIR");
    return QString::fromUtf8(dir ? dir : VM_SCREENSHOT_DEFAULT);
}

class EngineWindowTest : public ::testing::Test {
protected:
    // Runs the engine as up.exe does and waits until its window has seen the end.
    void RunWith(std::vector<std::string> arguments) {
        App();
        EngineOptions options = OptionsFor(folder.windowsPath());
        options.windowClass = "VelumEngineWindowTest" + std::to_string(::getpid());
        engine = std::make_unique<Engine>(std::move(arguments), options);
        window = std::make_unique<EngineWindow>(*engine);
        window->show();
        std::thread worker([this] { engine->Run(); });
        for (int i = 0; i < 600 && window->findChild<QPushButton*>("cancel")->text() != u"关闭";
             ++i)
            QTest::qWait(50);
        worker.join();
    }
    template <class W> W* Child(const char* name) { return window->findChild<W*>(name); }

    testing::TempFolder folder{"vm-engine-window"};
    std::unique_ptr<Engine> engine;
    std::unique_ptr<EngineWindow> window;
};

TEST_F(EngineWindowTest, AFinishedDownloadOffersTheFolderAndStaysWhenAskedTo) {
    const std::string body(3 * 1024 * 1024, 'x');
    LoopbackHttpServer server([&](const ReceivedRequest&, HttpPeer& peer) {
        peer.Close();
        peer.Send(LoopbackHttpServer::Response(200, "", body));
    });
    RunWith(
        {server.Url("/a.rar"), folder.windowsPath() + text::Gbk(u8"资源目录\\示例 源码.rar"), "2"});
    EXPECT_EQ(Child<QLabel>("fileName")->text(), u"示例 源码.rar");
    EXPECT_EQ(Child<QProgressBar>("progress")->value(), 1000);
    EXPECT_EQ(Child<QLabel>("message")->text(), u"下载完成");
    EXPECT_EQ(Child<QLabel>("amount")->text(), u"3.0 MB / 3.0 MB");
    EXPECT_TRUE(Child<QPushButton>("openFolder")->isVisible());
    EXPECT_TRUE(window->isVisible()) << "下载关闭 is not set";
    EXPECT_EQ(window->ExitCode(), 0);
    EXPECT_TRUE(window->grab().save(Screenshots() + "/engine_window.png"));
}

TEST_F(EngineWindowTest, AFailureStaysOnScreenWithItsReason) {
    RunWith({"ftp://127.0.0.1/a.rar", folder.windowsPath() + "a.rar", "1"});
    EXPECT_TRUE(Child<QLabel>("message")->text().contains(u"无法识别的下载地址"));
    EXPECT_FALSE(Child<QPushButton>("openFolder")->isVisible());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->ExitCode(), 1);
    EXPECT_TRUE(window->grab().save(Screenshots() + "/engine_window_failed.png"));
}

TEST(EngineWindowText, FormatBytes) {
    const std::pair<double, const char16_t*> cases[] = {
        {0, u"0 B"},       {1023, u"1023 B"},          {1024, u"1.0 KB"},
        {1536, u"1.5 KB"}, {5 * 1048576.0, u"5.0 MB"}, {3.3 * 1073741824.0, u"3.3 GB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(FormatBytes(bytes), QString::fromUtf16(text)) << bytes;
}

} // namespace
} // namespace vm::engine
