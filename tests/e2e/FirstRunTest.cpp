// A new user's first run, end to end: the demo forum on 127.0.0.1 and the program on real Qt
// windows, a category clicked in the tree, a row's download link clicked, the real up.exe
// fetching the resource and posting its notice, the row then offering the file's folder, and an
// introduction in the viewer. Screenshots of the main window, the engine window and the viewer
// go to VM_SCREENSHOT_DIR (default: this test's build folder).

#include "e2e/ProgramDriver.h"
#include "platform/gui/Gui.h"
#include "platform/gui/qt/QtAccess.h"
#include "platform/gui/qt/QtBackend.h"
#include "platform/text/Codepage.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vm::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

std::string G(std::u8string_view utf8) {
    return text::Gbk(utf8);
}

// The programs and scripts the test uses, where the build put them; tools/test.sh points these
// variables at copies when it runs the test as an unprivileged user.
std::string Located(const char* variable, const char* built) {
    const char* value = std::getenv(variable);
    return value && *value ? value : built;
}
const std::string kUpExe = Located("VM_E2E_UP_EXE", UP_EXE);
const std::string kMdbwriter = Located("VM_E2E_MDBWRITER", MDBWRITER);
const std::string kForumPy = Located("VM_E2E_FORUM_PY", FORUM_PY);
const std::string kLayoutPy = Located("VM_E2E_LAYOUT_PY", LAYOUT_PY);
const std::string kDataDir = Located("VM_E2E_DATA_DIR", E2E_DATA_DIR);

// Every process below this one (Chromium's zygote and renderers) with its command line.
std::vector<std::pair<pid_t, std::string>> Descendants() {
    std::map<pid_t, pid_t> parents;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = ReadBytes(entry.path() / "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        int parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %*c %d", &parent) == 1)
            parents[std::stoi(name)] = parent;
    }
    std::vector<std::pair<pid_t, std::string>> found;
    for (const auto& [pid, parent] : parents) {
        for (pid_t up = parent; up > 1 && parents.count(up); up = parents[up]) {
            if (up == ::getpid()) {
                std::string command =
                    ReadBytes(fs::path("/proc") / std::to_string(pid) / "cmdline");
                std::replace(command.begin(), command.end(), '\0', ' ');
                found.emplace_back(pid, command);
                break;
            }
        }
    }
    return found;
}

fs::path ScreenshotFolder() {
    const char* dir = std::getenv("VM_SCREENSHOT_DIR");
    return dir ? dir : VM_SCREENSHOT_DEFAULT;
}

bool OnPath(const std::string& program) {
    return testing::RunProgram({"sh", "-c", "command -v " + program}) == 0;
}

// tools/demo/forum.py as its own process, stopped when the object goes.
class DemoForum {
public:
    explicit DemoForum(const fs::path& data) : portFile_(data / "port") {
        fs::create_directories(data);
        fs::remove(portFile_);
        std::vector<std::string> arguments{
            "python3",  kForumPy, "--data", data.string(), "--mdbwriter", kMdbwriter,
            "--engine", kUpExe,   "--port", "0",           "--port-file", portFile_.string()};
        std::vector<char*> argv;
        for (std::string& a : arguments)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "python3", nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = 0;
    }
    ~DemoForum() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // "http://127.0.0.1:<port>" once the forum answers (its first start generates the
    // catalogues); "" when it did not come up.
    std::string WaitForAddress() {
        for (int i = 0; pid_ > 0 && i < 1800; ++i) {
            if (fs::exists(portFile_) && fs::file_size(portFile_) > 0) {
                std::string port = ReadBytes(portFile_);
                return "http://127.0.0.1:" + port.substr(0, port.find('\n'));
            }
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                break;
            }
            std::this_thread::sleep_for(100ms);
        }
        return {};
    }

private:
    fs::path portFile_;
    pid_t pid_ = 0;
};

class FirstRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OnPath("python3") || !OnPath("7zz"))
            GTEST_SKIP() << "python3 and 7zz are needed for the demo forum";
        if (!std::getenv("DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "e2e_test";
        static char* argv[] = {name, nullptr};
        gui::UseQt(argc, argv);

        fs::copy_file(kUpExe, folder / "up.exe");
        WriteBytes(folder / "opener", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                          (folder / "opened.log").string() + "'\n");
        fs::permissions(folder / "opener", fs::perms::owner_all);
        setenv("VM_OPENER", (folder / "opener").c_str(), 1);
        setenv("VM_ENGINE_SNAPSHOT", (ScreenshotFolder() / "e2e_engine_window.png").c_str(), 1);
        fs::remove(ScreenshotFolder() / "e2e_engine_window.png");

        // Message boxes would wait for a user; each one is noted and dismissed.
        watchdog.callOnTimeout([this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                messageBoxes.push_back(box->text().toStdString());
                box->reject();
            }
        });
        watchdog.start(200);
    }

    void TearDown() override {
        watchdog.stop();
        app().endProgram(0);
        app().processPending();
        program.reset();
    }

    static gui::Application& app() { return gui::Application::instance(); }

    // Runs the GUI thread until `done` or the time is up.
    bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            app().processPending(20);
        }
        return true;
    }

    gui::Control& Browser() { return main->control(G(u8"超文本浏览框1")); }

    std::string ListHtml() {
        const auto document = Browser().document();
        const auto html = document ? document->innerHtml("list") : std::nullopt;
        return html ? text::GbkToUtf8(*html) : std::string();
    }

    bool RunScript(const std::string& script) {
        const auto document = Browser().document();
        return document && document->execScript(script, "JavaScript");
    }

    // Clicks the first link of the page whose address holds `command`. The click runs the
    // program's handler (which may start a process) before the script's result comes back, so
    // a late result is no sign that nothing happened: the click is made once, never repeated.
    void ClickLink(const std::string& command) {
        const std::string anchor = "document.querySelector('a[href*=\"" + command + "\"]')";
        ASSERT_TRUE(WaitFor(
            [&] {
                const auto document = Browser().document();
                return document && document->evaluate(anchor + " !== null") == "true";
            },
            30s))
            << "no " << command << " link on the page";
        RunScript(anchor + ".click()");
    }

    // Clicks a category of the tree with the mouse, as a user does.
    bool ClickCategory(QTreeWidgetItem* item) {
        auto* tree = qobject_cast<QTreeWidget*>(gui::qt::WidgetOf(main->control(G(u8"树型框1"))));
        if (tree == nullptr || item == nullptr)
            return false;
        for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
            parent->setExpanded(true);
        tree->scrollToItem(item);
        app().processPending(50);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(item).center());
        return true;
    }

    std::vector<QTreeWidgetItem*> Leaves() {
        auto* tree = qobject_cast<QTreeWidget*>(gui::qt::WidgetOf(main->control(G(u8"树型框1"))));
        std::vector<QTreeWidgetItem*> leaves;
        if (tree == nullptr)
            return leaves;
        std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
            if (item->childCount() == 0 && item->parent() != nullptr)
                leaves.push_back(item);
            for (int i = 0; i < item->childCount(); ++i)
                walk(item->child(i));
        };
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            walk(tree->topLevelItem(i));
        return leaves;
    }

    void Screenshot(QWidget* widget, const char* name) {
        ASSERT_NE(widget, nullptr) << name;
        // The browser paints on its own schedule; give it a moment to show the latest page.
        const auto until = std::chrono::steady_clock::now() + 1500ms;
        while (std::chrono::steady_clock::now() < until)
            app().processPending(20);
        EXPECT_TRUE(
            widget->grab().save(QString::fromStdString((ScreenshotFolder() / name).string())))
            << name;
    }

    TempFolder folder{"vm-e2e"};
    std::unique_ptr<ProgramDriver> program;
    gui::Window* main = nullptr;
    QTimer watchdog;
    std::vector<std::string> messageBoxes;
};

TEST_F(FirstRunTest, BrowseDownloadThroughTheEngineAndReadAnIntroduction) {
    // The forum and the program folder exactly as tools/demo.sh lays them out.
    DemoForum forum{fs::path(kDataDir)};
    const std::string address = forum.WaitForAddress();
    ASSERT_FALSE(address.empty()) << "the demo forum did not start";
    ASSERT_EQ(
        testing::RunProgram({"python3", kLayoutPy, folder.path().string(), kDataDir, address}), 0);

    program = std::make_unique<ProgramDriver>(folder.windowsPath() + "vellumark");
    program->Start();
    main = app().findWindow("Velum");
    ASSERT_NE(main, nullptr) << "the main window did not load";
    ASSERT_TRUE(WaitFor([&] { return ListHtml().find("#xz#") != std::string::npos; }, 90s))
        << "the latest updates never showed a downloadable row";
    // An ordinary user's browsers run in Chromium's sandbox: no process of ours turns it off.
    if (::geteuid() != 0) {
        const auto processes = Descendants();
        bool web = false;
        for (const auto& [pid, command] : processes) {
            web = web || command.find("QtWebEngineProcess") != std::string::npos;
            EXPECT_EQ(command.find("--no-sandbox"), std::string::npos) << pid << ": " << command;
        }
        EXPECT_TRUE(web) << "no web process found below the program";
        EXPECT_FALSE(QCoreApplication::arguments().contains("--no-sandbox"));
    }

    // A category with a row that can be downloaded.
    const std::vector<QTreeWidgetItem*> leaves = Leaves();
    if (leaves.empty())
        GTEST_SKIP() << "the category tree has not landed: it has no second-level items";
    std::string category;
    for (QTreeWidgetItem* leaf : leaves) {
        const std::string before = ListHtml();
        ASSERT_TRUE(ClickCategory(leaf));
        WaitFor([&] { return ListHtml() != before; }, 10s);
        if (ListHtml().find("#xz#") != std::string::npos) {
            category = leaf->text(0).toStdString();
            break;
        }
    }
    ASSERT_FALSE(category.empty()) << "no category offers a download";
    EXPECT_NE(text::GbkToUtf8(main->control(G(u8"透明标签_页数标题")).text()).find(category),
              std::string::npos);
    Screenshot(gui::qt::WidgetOf(*main), "e2e_main_window_category.png");

    // The row's download link, clicked in the page: the program starts up.exe.
    ClickLink("#xz#");
    ASSERT_TRUE(WaitFor([&] { return ListHtml().find("#ck#") != std::string::npos; }, 120s))
        << "the row never offered the downloaded file's folder (no notice from the engine?)";

    std::vector<fs::path> downloaded;
    for (const auto& entry : fs::recursive_directory_iterator(folder.path() / u8"资源目录"))
        if (entry.is_regular_file())
            downloaded.push_back(entry.path());
    ASSERT_EQ(downloaded.size(), 1u) << "one file, no part file beside it";
    EXPECT_EQ(downloaded[0].extension(), ".rar");
    EXPECT_EQ(downloaded[0].parent_path().filename().string(), category);
    EXPECT_EQ(ReadBytes(downloaded[0]).substr(0, 2), "7z") << "the forum's archive";
    // The row that offers the folder is the row of that file.
    const std::string html = ListHtml();
    const std::size_t ck = html.find("#ck#") + 4;
    const std::string offered = html.substr(ck, html.find("#ck#", ck) - ck);
    EXPECT_EQ(offered.substr(offered.rfind('\\') + 1), downloaded[0].filename().string());
    // 下载打开=1: the engine opened the file's folder.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(folder / "opened.log"); }, 10s));
    EXPECT_EQ(ReadBytes(folder / "opened.log"), downloaded[0].parent_path().string() + "\n");
    EXPECT_TRUE(
        WaitFor([] { return fs::exists(ScreenshotFolder() / "e2e_engine_window.png"); }, 10s))
        << "the engine saves its window when it finishes";
    Screenshot(gui::qt::WidgetOf(*main), "e2e_main_window.png");

    // An introduction in the viewer.
    if (ListHtml().find("#js#") == std::string::npos) {
        GTEST_SKIP() << "no row of this page has an introduction; viewer not shown";
    }
    ClickLink("#js#");
    gui::Window* viewer = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] { return (viewer = app().findWindow("VelumViewer")) != nullptr && viewer->visible(); },
        30s))
        << "the viewer window did not open";
    gui::Control* page = nullptr;
    for (gui::Control* control : viewer->controls())
        if (control->kind() == gui::ControlKind::Browser)
            page = control;
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(WaitFor(
        [&] {
            const auto document = page->document();
            const auto body =
                document ? document->evaluate("document.body.innerText") : std::nullopt;
            return !page->busy() && body && !body->empty();
        },
        60s))
        << "the introduction stayed empty";
    EXPECT_GT(fs::file_size(folder / "set" / "dt" / "js.html"), 0u);
    Screenshot(gui::qt::WidgetOf(*viewer), "e2e_viewer.png");

    // The forum's newer catalogue arrived in the background; the status hint installs it.
    gui::Control& hint = main->control(G(u8"透明标签_状态提示条"));
    ASSERT_TRUE(WaitFor([&] { return hint.text() == G(u8"取回最新数据成功,点击此处更新!"); }, 60s))
        << "the newer catalogue was not fetched: " << text::GbkToUtf8(hint.text());
    QTest::mouseClick(gui::qt::WidgetOf(hint), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(WaitFor([&] { return ListHtml().find("2024年7月") != std::string::npos; }, 60s))
        << "the latest updates do not show the newer catalogue's week";

    EXPECT_TRUE(messageBoxes.empty()) << messageBoxes.front();
}

} // namespace
} // namespace vm::e2e
