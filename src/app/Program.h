#pragma once
// The spine of the program: the program-wide objects, the entry sequence, the main window's
// created handler with the start-up routine, and the exit clean-up.

#include "platform/gui/Gui.h"
#include "platform/kernel/Thread.h"
#include "ui/MainWindow.h"
#include "ui/SettingsWindow.h"

#include <memory>
#include <string>
#include <vector>

namespace vm::kernel {
class MessageEndpoint;
class NamedEvent;
} // namespace vm::kernel

namespace vm::app {

constexpr std::string_view kArchiveMessage =
    "亲，本程序不能在压缩包里面运行哦！\r\n\r\n请你把文件解压出来再运行好吧?";
constexpr std::string_view kOpenFailedMessage =
    "打开数据库失败,请重新打开程序尝试!若多次打开失败请到官方反馈!\r\n是否进行反馈?";

class Program {
public:
    struct Options {
        // The executable's path as a Windows path text; empty = the running executable's.
        std::string executablePath;
    };

    explicit Program(Options options = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The entry sequence on the backend already chosen; returns the exit code.
    int Run();
    // Everything of Run() before the message loop: objects, clean-up, library, main window.
    void Start();

    // The steps of the entry sequence, reachable one by one for tests.
    void CreateObjects();
    void LoadArchiveLibrary();
    gui::Window& LoadMainWindow();

    // The main window's created handler: single instance, hook, start-up routine.
    void OnCreated(gui::Window& window);
    void RunStartupRoutine(gui::Window& window);
    // Opens the catalogue and shows it; also used after a catalogue replacement.
    void StartCatalogue();
    // Runs once, whatever the path by which the program ends. While the server check still
    // runs, what it uses is released only once it has been joined (EndServerCheck).
    void ExitCleanup();
    // After the message loop: waits (at most kServerCheckEndMs) for the server check, whose
    // requests, waits and message boxes end with the program, and then releases what the exit
    // clean-up left to it. A check still busy after that keeps them to the end of the process.
    void EndServerCheck();
    static constexpr int kServerCheckEndMs = 3000;

    const std::string& listPagePath() const { return listPagePath_; }
    bool exitCleanupRan() const { return exitCleanupRan_; }
    ui::MainWindow& mainWindow() { return mainWindow_; }

private:
    ui::MainWindowHandlers Handlers();
    static ui::SettingsWindowHandlers SettingsHandlers();
    bool RefuseSecondInstance();
    void ListenForPostedMessages(gui::Window& window);
    void ReleaseProgramObjects();

    Options options_;
    ui::MainWindow mainWindow_;
    std::unique_ptr<kernel::NamedEvent> instanceEvent_;
    std::unique_ptr<kernel::MessageEndpoint> endpoint_;
    kernel::Thread serverCheck_;
    bool releaseAfterServerCheck_ = false;

    // Program-wide objects of this module, in creation order (the archive library, the settings
    // and the catalogue objects live with their subsystems); the exit clean-up releases them all
    // in a fixed order.
    std::unique_ptr<std::vector<std::string>> windowList_;
    std::string listPagePath_;
    bool exitCleanupRan_ = false;
};

} // namespace vm::app
