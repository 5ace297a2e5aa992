#include "update/ServerCheck.h"

#include "actions/Download.h"
#include "actions/DownloadEngine.h"
#include "platform/fs/File.h"
#include "platform/gui/Gui.h"
#include "sys/Endpoints.h"
#include "sys/Process.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "update/ServerInfo.h"
#include "update/Updates.h"

namespace vm::update {
namespace {

gui::Application& App() {
    return gui::Application::instance();
}

gui::Window* LoadedMainWindow() {
    gui::Window* window = App().findWindow(ui::kMainWindowClass);
    return window != nullptr && window->loaded() ? window : nullptr;
}

void HideMainWindow() {
    App().invoke([] {
        if (gui::Window* window = LoadedMainWindow())
            window->hide();
    });
}

// Up to six fetches of one page; the first document read ends the tries.
bool FetchWithRetries(const std::string& address) {
    for (int attempt = 0; attempt < kAttemptsPerPage && !App().ended(); ++attempt) {
        if (!ServerInfo().Fetch(address).empty())
            return true;
    }
    return false;
}

bool ReadServerInfo() {
    const sys::Endpoints& endpoints = sys::CurrentEndpoints();
    return FetchWithRetries(endpoints.infoPrimary) || FetchWithRetries(endpoints.infoFallback);
}

// Gives false when the user declined and the program ends.
bool AcceptOrUpdateTooOldProgram() {
    if (sys::ParseLeadingNumber(ServerInfo().ValueOf("版本号")) <= kNewestAcceptedMinimum)
        return true;
    HideMainWindow();
    if (App().messageBox(kTooOldQuestion, "Vellumark", 0x44) != gui::IDYES || App().ended()) {
        App().endProgram(0);
        return false;
    }
    if (fs::Exists(actions::EngineFilePath(sys::ProgramFolder())))
        actions::RunDownloadEngine(ServerInfo().ValueOf("主程序地址"),
                                   sys::ProgramFolder() + "main.7z", -1);
    else
        ui::OpenWebPage(ServerInfo().ValueOf("更新地址"));
    return true;
}

void MarkNewerProgram() {
    const bool newer = ServerInfo().ValueOf("程序版本") != kProgramVersion;
    App().invoke([newer] {
        gui::Window* window = LoadedMainWindow();
        if (window == nullptr)
            return;
        gui::Control& label = window->control("透明标签_更新");
        if (newer) {
            window->control("图片框_更新").setVisible(true);
            label.setText(ui::kUpdateNowText);
        } else {
            window->control("图片框_更新").setVisible(false);
            label.setCursor(gui::CursorShape::Default);
        }
    });
}

void RepairMissingCatalogue() {
    HideMainWindow();
    App().messageBox(kCatalogueLostMessage, "", 0);
    // Closed instead of answered: the program has ended and nothing more is fetched.
    if (App().ended())
        return;
    // Only a catalogue that is really in place counts as repaired.
    const bool repaired = DownloadCatalogueArchive() &&
                          ApplyCatalogueArchiveWithResult(true) == ApplyResult::Applied &&
                          fs::Exists(sys::ProgramFolder() + "set\\TreeList.mdb");
    App().messageBox(repaired ? kCatalogueRepaired : kCatalogueNotRepaired, "", 0);
    App().endProgram(0);
}

} // namespace

std::string NoServerInfoMessage() {
    return "获取信息失败,请重新打开程序尝试!若多次失败请到官方查看最新消息!\r\n"
           "若您好看已下载的资源,请打开当前目录下的\"资源目录\"进行查看!";
}

void CheckServerInfo() {
    const bool read = ReadServerInfo();
    // Closing the program while the pages were fetched leaves nobody to tell.
    if (App().ended())
        return;
    if (!read) {
        App().messageBox(NoServerInfoMessage(), "", 0);
        if (App().ended())
            return;
        ui::OpenWebPage(sys::CurrentEndpoints().forum);
        App().endProgram(0);
        return;
    }
    if (!AcceptOrUpdateTooOldProgram())
        return;
    MarkNewerProgram();
    // From here on the check writes files: an end of the program stops it between its steps
    // (its waits end with the program too), so that it can be joined soon after.
    if (App().ended())
        return;
    if (!fs::Exists(sys::ProgramFolder() + "set\\TreeList.mdb")) {
        RepairMissingCatalogue();
        return;
    }
    if (sys::ReadSetting("下载引擎版本") != ServerInfo().ValueOf("下载引擎版本"))
        RefreshDownloadEngine();
    if (App().ended())
        return;
    if (sys::ReadSetting("数据库版本") != ServerInfo().ValueOf("数据库版本"))
        RefreshCatalogueArchive();
}

kernel::Thread StartServerCheck() {
    return sys::StartThread([](std::int32_t) { CheckServerInfo(); }, 0);
}

void CheckProgramVersion() {
    const std::string newest = ServerInfo().ValueOf("程序版本");
    if (newest == kProgramVersion) {
        App().messageBox(kNewestVersionMessage, "", 0);
        return;
    }
    const std::string question =
        "当前版本:" + std::string(kProgramVersion) + "\r\n最新版本:" + newest + "\r\n是否进行更新?";
    if (App().messageBox(question, "", 0x44) == gui::IDYES)
        ui::OpenWebPage(ServerInfo().ValueOf("更新地址"));
}

} // namespace vm::update
