#pragma once
// A program folder wired to the test forum, with the main window loaded on the headless
// backend and the update handlers bound the way the program binds them.

#include "catalogue/Catalogue.h"
#include "mdbwriter/Catalogue.h"
#include "platform/fs/File.h"
#include "platform/gui/Headless.h"
#include "platform/shell/OpenerRecorder.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"
#include "support/TestForum.h"
#include "sys/Archive.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "update/ServerCheck.h"
#include "update/ServerInfo.h"
#include "update/Updates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace vm::update::testing {

using vm::testing::TempFolder;
using vm::testing::TestForum;

// A catalogue of `categories` categories as the Jet writer makes it.
inline std::string CatalogueBytes(int categories, std::uint32_t seed) {
    const TempFolder scratch("vm-catalogue");
    mdbwriter::CatalogueShape shape;
    shape.categories = categories;
    shape.resources = categories * 5;
    shape.seed = seed;
    shape.creationDate = 45000;
    std::string error;
    const std::string path = (scratch / "TreeList.mdb").string();
    EXPECT_TRUE(mdbwriter::WriteCatalogue(path, shape, &error)) << error;
    return vm::testing::ReadBytes(path);
}

inline std::string CatalogueArchiveBytes(const std::string& catalogue) {
    return vm::testing::SevenZipBytes({{"TreeList.mdb", catalogue, {}}});
}

// A stand-in engine: a script that writes its arguments, one a line, beside itself.
inline std::string RecordingEngine(const std::filesystem::path& log) {
    return "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + log.string() + ".part'\nmv '" + log.string() +
           ".part' '" + log.string() + "'\n";
}

// A stand-in engine that keeps running until it is ended.
inline const std::string kBusyEngine = "#!/bin/sh\nwhile :; do sleep 0.1; done\n";

inline void WriteScript(const std::filesystem::path& path, const std::string& text) {
    vm::testing::WriteBytes(path, text);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// A running process of the script, ended (and reaped) when the object goes.
class RunningScript {
public:
    explicit RunningScript(const std::filesystem::path& script) {
        const std::string path = script.string();
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0)
            pid_ = 0;
    }
    ~RunningScript() { End(); }
    RunningScript(const RunningScript&) = delete;
    RunningScript& operator=(const RunningScript&) = delete;
    bool running() const { return pid_ > 0 && ::kill(pid_, 0) == 0; }
    void End() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    // Reaps the process once something else ended it; false while it still runs.
    bool Reap() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
            pid_ = 0;
        return pid_ == 0;
    }

private:
    pid_t pid_ = 0;
};

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        vm::test::OpenerRecorder::Instance().Clear();
        gui::UseHeadless();
        static const bool library = sys::LoadBuiltinArchiveLibrary(sys::ProgramArchiveLibrary());
        ASSERT_TRUE(library);

        forum.WriteEndpoints(folder.path());
        sys::SetProgramFolder(folder.windowsPath());
        sys::SetCurrentEndpoints(sys::LoadEndpoints(folder.windowsPath()));
        sys::WriteSetting("下载引擎版本", "3");
        sys::WriteSetting("数据库版本", "2");
        ServerInfo().Clear();

        forum.SetEntry("版本号", "1");
        forum.SetEntry("程序版本", std::string(kProgramVersion));
        forum.SetEntry("更新地址", forum.Address() + "/update.html");
        forum.SetEntry("主程序地址", forum.Address() + "/main.7z");
        forum.SetEntry("下载引擎版本", "3");
        forum.SetEntry("下载引擎地址", forum.FilePage("engine"));
        forum.SetEntry("数据库版本", "2");
        forum.SetEntry("数据库地址", forum.FilePage("db"));

        catalogue::CreateCatalogueObjects();
        ui::MainWindowHandlers handlers;
        handlers.created = [](gui::Window& window) {
            window.control("透明标签_版本信息").setText(ui::kVersionText);
        };
        handlers.applyDownloadedCatalogue = [] { ApplyCatalogueArchive(false); };
        handlers.startProgramUpdate = [] { StartProgramUpdate(); };
        handlers.showList = [](int action, long long category) {
            catalogue::ShowList(action, category);
        };
        handlers.currentPage = [] { return catalogue::CurrentPage(); };
        mainWindow = std::make_unique<ui::MainWindow>(handlers);
        window = &mainWindow->Load(forum.Address());
        ShowListPage();
    }

    // The page the lists are written into, as start-up leaves it.
    void ShowListPage() {
        std::filesystem::create_directories(File("set/dt"));
        vm::testing::WriteBytes(File("set/dt/list.htm"),
                                "<html><body><div id=\"list\"></div></body></html>");
        window->control("超文本浏览框1").navigate(folder.windowsPath() + "set\\dt\\list.htm");
    }

    void TearDown() override {
        catalogue::CloseCatalogue();
        catalogue::ReleaseCatalogueConnection();
        catalogue::ReleaseListState();
        catalogue::ReleaseCachedDocument();
        app.endProgram(0);
    }

    // Runs the whole server check on its thread while this (GUI) thread dispatches.
    void RunCheck() {
        kernel::Thread check = StartServerCheck();
        ASSERT_TRUE(check.valid());
        while (!check.Wait(0))
            app.processPending(20);
        app.processPending();
    }

    std::filesystem::path File(const std::string& relative) const { return folder / relative; }
    bool Exists(const std::string& relative) const {
        return std::filesystem::exists(File(relative));
    }
    void InstallCatalogue(const std::string& bytes) {
        std::filesystem::create_directories(File("set"));
        vm::testing::WriteBytes(File("set/TreeList.mdb"), bytes);
    }

    gui::Control& Hint() { return window->control("透明标签_状态提示条"); }
    gui::Control& Tree() { return window->control("树型框1"); }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : gui::headless::ShownBoxes())
            texts.push_back(box.text);
        return texts;
    }
    // Every item text of the tree below `parent`, depth first.
    std::vector<std::string> TreeTexts(int parent = 0) {
        std::vector<std::string> texts;
        for (const int item : Tree().children(parent)) {
            texts.push_back(Tree().itemText(item));
            for (std::string& child : TreeTexts(item))
                texts.push_back(std::move(child));
        }
        return texts;
    }
    // The category names of the open catalogue, sorted.
    static std::vector<std::string> CatalogueNames() {
        std::vector<std::string> names;
        if (const auto data = catalogue::OpenCatalogueData())
            for (const auto& node : data->Tree())
                names.push_back(node.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    gui::Application& app = gui::Application::instance();
    TempFolder folder{"vm-update"};
    TestForum forum;
    std::unique_ptr<ui::MainWindow> mainWindow;
    gui::Window* window = nullptr;
};

} // namespace vm::update::testing
