// The settings window on the headless backend: what it shows from set\Start.ini, the enabling
// rule, writing the choices back on every way of closing, and the two repair buttons.

#include "ui/SettingsWindow.h"
#include "platform/gui/Headless.h"
#include "support/TempFolder.h"
#include "sys/Settings.h"

#include <gtest/gtest.h>

namespace vm::ui {
namespace {

using gui::headless::ShownBoxes;

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        gui::UseHeadless();
        std::filesystem::create_directories(folder_ / "set");
        sys::SetProgramFolder(folder_.windowsPath());
        owner_ = &App().loadWindow({.className = "Velum", .geometry = {50, 50, 860, 540}}, {});
    }
    void TearDown() override { sys::SetProgramFolder({}); }

    gui::Application& App() { return gui::Application::instance(); }
    std::string Stored(std::string_view key) { return sys::ReadSetting(key); }
    void Store(std::string_view mode, std::string_view open, std::string_view close) {
        sys::WriteSetting("下载方式", mode);
        sys::WriteSetting("下载打开", open);
        sys::WriteSetting("下载关闭", close);
    }
    // Opens the window; `driver` acts in it as the user would, then it is closed from its
    // title bar unless the driver closed it.
    void Open(const std::function<void(gui::Window&)>& driver) {
        gui::headless::SetModalDriver([&](gui::Window& window) {
            driver(window);
            if (window.loaded())
                window.sendMessage(gui::WM_CLOSE, 0, 0);
        });
        SettingsWindow(handlers_).Load(owner_);
        gui::headless::SetModalDriver({});
    }

    testing::TempFolder folder_{"vm-settings"};
    gui::Window* owner_ = nullptr;
    SettingsWindowHandlers handlers_;
};

TEST_F(SettingsWindowTest, ShowsTheStoredChoicesWithTheEnablingRule) {
    struct Case {
        const char* mode;
        const char* open;
        const char* close;
        bool viaEngine, openAfter, closeAfter;
    };
    const Case cases[] = {
        {"1", "1", "1", true, true, true},
        {"0", "1", "0", false, true, false}, // greyed, ticks kept
        {"1.0", "0", "1", true, false, true},
        {"yes", "2", "", false, false, false},
    };
    for (const Case& c : cases) {
        Store(c.mode, c.open, c.close);
        sys::CurrentDownloadSettings() = {};
        Open([&](gui::Window& w) {
            EXPECT_TRUE(w.modal());
            EXPECT_EQ(w.parent(), owner_);
            EXPECT_EQ(w.title(), "设置");
            EXPECT_EQ(w.control("单选框1").checked(), c.viaEngine) << c.mode;
            EXPECT_EQ(w.control("单选框2").checked(), !c.viaEngine) << c.mode;
            EXPECT_EQ(w.control("选择框1").checked(), c.openAfter) << c.open;
            EXPECT_EQ(w.control("选择框2").checked(), c.closeAfter) << c.close;
            for (const char* name : {"分组框1", "选择框1", "选择框2"})
                EXPECT_EQ(w.control(name).enabled(), c.viaEngine) << name << " " << c.mode;
            EXPECT_TRUE(w.control("分组框2").enabled());
        });
        // Loading the window also loaded the record, and closing it unchanged wrote normalised
        // values back.
        EXPECT_EQ(sys::CurrentDownloadSettings().viaEngine, c.viaEngine);
        EXPECT_EQ(Stored("下载方式"), c.viaEngine ? "1" : "0");
    }
}

TEST_F(SettingsWindowTest, RadioClicksApplyTheRuleAndKeepTheTicks) {
    Store("1", "1", "0");
    Open([](gui::Window& w) {
        w.control("单选框2").setChecked(true);
        w.control("单选框2").fire(gui::Event::Clicked);
        EXPECT_FALSE(w.control("单选框1").checked());
        EXPECT_FALSE(w.control("选择框1").enabled());
        EXPECT_FALSE(w.control("分组框1").enabled());
        EXPECT_TRUE(w.control("选择框1").checked());
        w.control("单选框1").setChecked(true);
        w.control("单选框1").fire(gui::Event::Clicked);
        EXPECT_TRUE(w.control("选择框2").enabled());
        EXPECT_FALSE(w.control("选择框2").checked());
    });
}

TEST_F(SettingsWindowTest, EveryWayOfClosingWritesAndReloadsTheChoices) {
    const std::vector<std::pair<const char*, std::function<void(gui::Window&)>>> closers = {
        {"title bar", [](gui::Window& w) { w.sendMessage(gui::WM_CLOSE, 0, 0); }},
        {"posted close",
         [](gui::Window& w) {
             w.postMessage(gui::WM_CLOSE, 0, 0);
             gui::Application::instance().processPending();
         }},
        {"unload", [](gui::Window& w) { w.close(); }},
        {"escape",
         [](gui::Window& w) {
             gui::EventArgs escape;
             escape.key = 27;
             EXPECT_TRUE(w.fire(gui::Event::KeyDown, escape).swallow);
             gui::Application::instance().processPending();
         }},
    };
    bool mode = false;
    for (const auto& [how, closer] : closers) {
        Store(mode ? "0" : "1", "0", "1");
        mode = !mode;
        Open([&, closer = closer](gui::Window& w) {
            w.control(mode ? "单选框1" : "单选框2").setChecked(true);
            w.control("选择框1").setChecked(true);
            w.control("选择框2").setChecked(false);
            closer(w);
            EXPECT_FALSE(w.loaded());
        });
        EXPECT_EQ(Stored("下载方式"), mode ? "1" : "0") << how;
        EXPECT_EQ(Stored("下载打开"), "1") << how;
        EXPECT_EQ(Stored("下载关闭"), "0") << how;
        EXPECT_EQ(sys::CurrentDownloadSettings().viaEngine, mode) << how;
        EXPECT_TRUE(sys::CurrentDownloadSettings().openFolderAfter) << how;
        EXPECT_FALSE(sys::CurrentDownloadSettings().closeDialogAfter) << how;
    }
    // The three keys in their fixed order, in the one section.
    const std::string file = testing::ReadBytes(folder_ / "set" / "Start.ini");
    const auto at = [&](const char* key) { return file.find(key); };
    EXPECT_LT(at("下载方式"), at("下载打开"));
    EXPECT_LT(at("下载打开"), at("下载关闭"));
}

TEST_F(SettingsWindowTest, CatalogueRepairCaptionsAndMessages) {
    using Apply = CatalogueApplyResult;
    struct Case {
        bool downloaded;
        Apply applied;
        const char* message;
        bool enabledAfter;
        const char* captionAfter;
    };
    const Case cases[] = {
        {false, Apply::Failed, "数据同步失败", false, "修复数据库中"},
        {true, Apply::Applied, "数据同步成功", true, "修复数据"},
        {true, Apply::NoArchive, "取回的数据,不存在,无法正常更新!", true, "修复数据"},
        // A damaged archive kept the old catalogue: reported as the failure it is.
        {true, Apply::Failed, "数据同步失败", true, "修复数据"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> calls;
        handlers_.downloadCatalogueArchive = [&] {
            gui::Control& button = App().findWindow(kSettingsWindowClass)->control("按钮2");
            EXPECT_FALSE(button.enabled());
            EXPECT_EQ(button.text(), "修复数据库中");
            calls.push_back("download");
            return c.downloaded;
        };
        handlers_.applyCatalogueArchive = [&] {
            calls.push_back("apply");
            return c.applied;
        };
        const std::size_t boxes = ShownBoxes().size();
        Open([&](gui::Window& w) {
            EXPECT_EQ(w.control("按钮2").text(), "修复数据库");
            w.control("按钮2").fire(gui::Event::Clicked);
            EXPECT_EQ(w.control("按钮2").enabled(), c.enabledAfter) << c.message;
            EXPECT_EQ(w.control("按钮2").text(), c.captionAfter) << c.message;
        });
        ASSERT_EQ(ShownBoxes().size(), boxes + 1);
        EXPECT_EQ(ShownBoxes().back().text, c.message);
        EXPECT_EQ(ShownBoxes().back().style, 0);
        EXPECT_EQ(ShownBoxes().back().caption, "");
        EXPECT_EQ(calls, c.downloaded ? (std::vector<std::string>{"download", "apply"})
                                      : (std::vector<std::string>{"download"}));
    }
    // Reopened, the window starts from its designed captions again.
    Open([](gui::Window& w) {
        EXPECT_TRUE(w.control("按钮2").enabled());
        EXPECT_EQ(w.control("按钮2").text(), "修复数据库");
    });
}

TEST_F(SettingsWindowTest, EngineRepairCaptionsAndMessages) {
    for (const bool repaired : {true, false}) {
        std::vector<bool> endRunning;
        handlers_.repairDownloadEngine = [&](bool end) {
            gui::Control& button = App().findWindow(kSettingsWindowClass)->control("按钮3");
            EXPECT_FALSE(button.enabled());
            EXPECT_EQ(button.text(), "修复下载引擎中");
            endRunning.push_back(end);
            return repaired;
        };
        const std::size_t boxes = ShownBoxes().size();
        Open([&](gui::Window& w) {
            w.control("按钮3").fire(gui::Event::Clicked);
            EXPECT_EQ(w.control("按钮3").enabled(), repaired);
            EXPECT_EQ(w.control("按钮3").text(), repaired ? "修复下载引擎" : "修复下载引擎中");
        });
        EXPECT_EQ(endRunning, std::vector<bool>{true});
        ASSERT_EQ(ShownBoxes().size(), boxes + 1);
        EXPECT_EQ(ShownBoxes().back().text, repaired ? "下载引擎同步成功" : "下载引擎 修复失败!");
        EXPECT_EQ(ShownBoxes().back().style, 0);
    }
    // No repair records a version.
    EXPECT_EQ(Stored("下载引擎版本"), "");
    EXPECT_EQ(Stored("数据库版本"), "");
}

TEST_F(SettingsWindowTest, VersionCheckButtonAndMissingHandlers) {
    int checks = 0;
    handlers_.checkProgramVersion = [&] { ++checks; };
    Open([](gui::Window& w) {
        w.control("按钮1").fire(gui::Event::Clicked);
        // Operations that are not wired count as failures, never as success.
        w.control("按钮2").fire(gui::Event::Clicked);
        w.control("按钮3").fire(gui::Event::Clicked);
        EXPECT_FALSE(w.control("按钮2").enabled());
        EXPECT_FALSE(w.control("按钮3").enabled());
    });
    EXPECT_EQ(checks, 1);
    ASSERT_GE(ShownBoxes().size(), 2u);
    EXPECT_EQ(ShownBoxes()[ShownBoxes().size() - 2].text, "数据同步失败");
    EXPECT_EQ(ShownBoxes().back().text, "下载引擎 修复失败!");
}

} // namespace
} // namespace vm::ui
