// up.exe: the download engine the program starts for each download (see docs/engine.md).
//
//   up.exe ADDRESS TARGET NUMBER

#include "engine/Engine.h"
#include "engine/window/EngineWindow.h"
#include "platform/fs/Path.h"
#include "platform/text/Codepage.h"

#include <QApplication>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// Under a display Qt's xcb platform opens D-Bus and fontconfig, which keep process-long caches
// they never free; the program's own list (platform/gui/qt) says the same.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\n";
}
#endif

int main(int argc, char** argv) {
    // Arguments reach us as UTF-8; the engine's logic speaks GBK. They are taken before Qt
    // sees the command line, which would otherwise claim options of its own.
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(vm::text::Utf8ToGbk(argv[i]));
    // Without any display the download still runs, in an invisible window.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
        !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);

    vm::engine::Engine engine(std::move(arguments),
                              vm::engine::OptionsFor(vm::fs::FolderOf(vm::fs::ExecutablePath())));
    vm::engine::EngineWindow window(engine);
    if (const char* snapshot = std::getenv("VM_ENGINE_SNAPSHOT"))
        window.SetSnapshotFile(QString::fromLocal8Bit(snapshot));
    window.show();

    std::thread worker([&engine] { engine.Run(); });
    app.exec();
    engine.Cancel();
    worker.join();
    return window.ExitCode();
}
