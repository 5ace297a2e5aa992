#include "ui/SettingsWindow.h"

#include "sys/Settings.h"

namespace vm::ui {
namespace {

using gui::ControlKind;
using gui::Event;
using gui::EventArgs;

constexpr std::string_view kViaEngine = "单选框1";
constexpr std::string_view kViaWebPage = "单选框2";
constexpr std::string_view kEngineOptions = "分组框1";
constexpr std::string_view kOpenFolderAfter = "选择框1";
constexpr std::string_view kCloseDialogAfter = "选择框2";
constexpr std::string_view kCatalogueButton = "按钮2";
constexpr std::string_view kEngineButton = "按钮3";

gui::Application& App() {
    return gui::Application::instance();
}

gui::ControlSpec Row(std::string name, ControlKind kind, std::string container, gui::Rect rect,
                     std::string text) {
    gui::ControlSpec spec;
    spec.name = std::move(name);
    spec.kind = kind;
    spec.container = std::move(container);
    spec.geometry = rect;
    spec.text = std::move(text);
    return spec;
}

std::string_view ApplyMessage(CatalogueApplyResult result) {
    switch (result) {
    case CatalogueApplyResult::Applied:
        return "数据同步成功";
    case CatalogueApplyResult::NoArchive:
        return "取回的数据,不存在,无法正常更新!";
    case CatalogueApplyResult::Failed:
        break;
    }
    // An archive that would not unpack leaves the old catalogue in place: that is no success.
    return "数据同步失败";
}

} // namespace

SettingsWindow::SettingsWindow(SettingsWindowHandlers handlers) : handlers_(std::move(handlers)) {}

gui::WindowSpec SettingsWindow::Spec() {
    gui::WindowSpec spec;
    spec.className = std::string(kSettingsWindowClass);
    spec.title = "设置";
    spec.geometry = {50, 50, 337, 257};
    spec.border = gui::Border::NarrowFixed;
    spec.controls = {
        Row("分组框2", ControlKind::GroupBox, "", {8, 8, 320, 70}, "下载方式"),
        Row("单选框1", ControlKind::RadioButton, "分组框2", {16, 16, 280, 22},
            "由Vellumark下载引擎（up.exe）自动完成下载"),
        Row("单选框2", ControlKind::RadioButton, "分组框2", {16, 40, 280, 22},
            "打开下载页面手动下载"),
        Row("分组框1", ControlKind::GroupBox, "", {6, 86, 320, 70}, "下载引擎（up.exe）下载完成后"),
        Row("选择框1", ControlKind::CheckBox, "分组框1", {16, 17, 256, 16}, "即刻打开文件所处目录"),
        Row("选择框2", ControlKind::CheckBox, "分组框1", {16, 41, 256, 16}, "即刻关闭对话框"),
        Row("分组框3", ControlKind::GroupBox, "", {6, 164, 320, 60}, ""),
        Row("按钮1", ControlKind::PushButton, "分组框3", {10, 20, 93, 22}, "检测程序更新"),
        Row("按钮2", ControlKind::PushButton, "分组框3", {113, 20, 93, 22}, "修复数据库"),
        Row("按钮3", ControlKind::PushButton, "分组框3", {216, 20, 93, 22}, "修复下载引擎"),
    };
    return spec;
}

std::vector<gui::Binding> SettingsWindow::Bindings() {
    const auto click = [](std::function<void()> action) {
        return [action = std::move(action)](EventArgs&) { action(); };
    };
    const auto enablingRule = click([this] { ApplyEnablingRule(*window_); });
    std::vector<gui::Binding> b;
    b.push_back({"", Event::Created, click([this] { OnCreated(); })});
    b.push_back({"", Event::Closed, click([this] { OnClosing(); })});
    // Escape closes the window as its title bar's close does (the choices are kept then).
    b.push_back({"", Event::KeyDown, [this](EventArgs& args) {
                     if (args.key != 27)
                         return;
                     args.swallow = true;
                     gui::Window* window = window_;
                     App().post([window] {
                         if (window->loaded())
                             window->sendMessage(gui::WM_CLOSE, 0, 0);
                     });
                 }});
    b.push_back({std::string(kViaEngine), Event::Clicked, enablingRule});
    b.push_back({std::string(kViaWebPage), Event::Clicked, enablingRule});
    b.push_back({"按钮1", Event::Clicked, click([this] {
                     if (handlers_.checkProgramVersion)
                         handlers_.checkProgramVersion();
                 })});
    b.push_back(
        {std::string(kCatalogueButton), Event::Clicked, click([this] { RepairCatalogue(); })});
    b.push_back({std::string(kEngineButton), Event::Clicked, click([this] { RepairEngine(); })});
    return b;
}

void SettingsWindow::Load(gui::Window* owner) {
    App().loadWindow(Spec(), Bindings(), owner, true);
}

void SettingsWindow::ApplyEnablingRule(gui::Window& window) {
    const bool viaEngine = window.control(kViaEngine).checked();
    for (std::string_view name : {kEngineOptions, kOpenFolderAfter, kCloseDialogAfter})
        window.control(name).setEnabled(viaEngine);
}

void SettingsWindow::OnCreated() {
    window_ = App().findWindow(kSettingsWindowClass);
    sys::LoadDownloadSettings();
    const sys::DownloadSettings& settings = sys::CurrentDownloadSettings();
    window_->control(kViaEngine).setChecked(settings.viaEngine);
    window_->control(kOpenFolderAfter).setChecked(settings.openFolderAfter);
    window_->control(kCloseDialogAfter).setChecked(settings.closeDialogAfter);
    window_->control(kViaWebPage).setChecked(!settings.viaEngine);
    ApplyEnablingRule(*window_);
}

void SettingsWindow::OnClosing() {
    sys::WriteDownloadSettings(window_->control(kViaEngine).checked(),
                               window_->control(kOpenFolderAfter).checked(),
                               window_->control(kCloseDialogAfter).checked());
    sys::LoadDownloadSettings();
}

void SettingsWindow::RepairCatalogue() {
    gui::Control& button = window_->control(kCatalogueButton);
    button.setEnabled(false);
    button.setText("修复数据库中");
    if (!handlers_.downloadCatalogueArchive || !handlers_.downloadCatalogueArchive()) {
        // The button stays disabled until the window is opened again.
        App().messageBox("数据同步失败", "", gui::MB_OK);
        return;
    }
    const CatalogueApplyResult result = handlers_.applyCatalogueArchive
                                            ? handlers_.applyCatalogueArchive()
                                            : CatalogueApplyResult::Failed;
    App().messageBox(ApplyMessage(result), "", gui::MB_OK);
    button.setEnabled(true);
    button.setText("修复数据");
}

void SettingsWindow::RepairEngine() {
    gui::Control& button = window_->control(kEngineButton);
    button.setEnabled(false);
    button.setText("修复下载引擎中");
    if (!handlers_.repairDownloadEngine || !handlers_.repairDownloadEngine(true)) {
        // The repair itself says nothing, and a caption that still reads "in progress" would
        // be the only trace of the failure. The button stays disabled until the window is
        // opened again.
        App().messageBox("下载引擎 修复失败!", "", gui::MB_OK);
        return;
    }
    button.setEnabled(true);
    button.setText("修复下载引擎");
    App().messageBox("下载引擎同步成功", "", gui::MB_OK);
}

} // namespace vm::ui
