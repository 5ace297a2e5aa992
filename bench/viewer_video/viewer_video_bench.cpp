// From the click on a video row to the movie's first frame: ShowResourcePage with the address of
// a movie made by tools/demo/swf.py on a loopback site, until a grab of the viewer's browser shows
// the movie's two colours. Each iteration shows an introduction first, so the movie starts anew.

#include "actions/ResourcePage.h"
#include "platform/gui/qt/QtAccess.h"
#include "platform/gui/qt/QtBackend.h"
#include "platform/text/Codepage.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "ui/ViewerWindow.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace vm;
using Clock = std::chrono::steady_clock;

int Near(const QImage& shot, QColor colour) {
    int count = 0;
    for (int y = 0; y < shot.height(); y += 2)
        for (int x = 0; x < shot.width(); x += 2) {
            const QColor c = shot.pixelColor(x, y);
            count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                         std::abs(c.blue() - colour.blue()) <=
                     12;
        }
    return count;
}

void BM_ClickToFirstFrame(benchmark::State& state) {
    setenv("VM_PLAYER_DIR", VM_PLAYER_DIR, 1);
    static int argc = 1;
    static char name[] = "viewer_video_bench";
    static char* argv[] = {name, nullptr};
    gui::UseQt(argc, argv);
    gui::Application& app = gui::Application::instance();

    testing::TempFolder folder{"vm-video-bench"};
    std::filesystem::create_directories(folder / "set" / "dt");
    sys::SetProgramFolder(folder.windowsPath());
    const std::string out = (folder / "m.swf").string();
    const std::string command = "python3 '" + std::string(VM_SOURCE_DIR) + "/tools/demo/swf.py' '" +
                                out + "' --background 2060c0 --colour f0a010";
    if (std::system(command.c_str()) != 0) {
        state.SkipWithError("the movie generator failed");
        return;
    }
    const std::string movie = testing::ReadBytes(out);
    testing::LoopbackHttpServer site([&](const testing::ReceivedRequest&, testing::HttpPeer& peer) {
        peer.Send(testing::LoopbackHttpServer::Response(
            200, "Content-Type: application/x-shockwave-flash\r\n", movie));
    });

    gui::Window* mainWindow = nullptr;
    ui::MainWindowHandlers h;
    h.created = [&](gui::Window& w) { mainWindow = &w; };
    h.viewerWindow = [] { return ui::ViewerWindow::Loaded(); };
    ui::MainWindow main(std::move(h));
    main.Load(text::Gbk(u8"http://127.0.0.1:9"));

    for (auto _ : state) {
        state.PauseTiming();
        actions::ShowResourcePage(text::Gbk(u8"介绍"), text::Gbk(u8"示例"), "");
        const auto settle = Clock::now() + std::chrono::milliseconds(300);
        while (Clock::now() < settle)
            app.processPending(20);
        state.ResumeTiming();
        const auto start = Clock::now();
        actions::ShowResourcePage("", text::Gbk(u8"视频"), site.Url("/m.swf"));
        QWidget* view = gui::qt::WidgetOf(ui::ViewerWindow::Browser(*ui::ViewerWindow::Loaded()));
        bool shown = false;
        while (!shown && Clock::now() - start < std::chrono::seconds(30)) {
            app.processPending(10);
            const QImage shot = view->grab().toImage();
            shown = Near(shot, QColor(0xf0, 0xa0, 0x10)) > 1000 &&
                    Near(shot, QColor(0x20, 0x60, 0xc0)) > 5000;
        }
        if (!shown) {
            state.SkipWithError("no frame within 30 s");
            break;
        }
    }
    app.endProgram(0);
    app.processPending();
    sys::SetProgramFolder({});
}
BENCHMARK(BM_ClickToFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
