#include "update/Updates.h"

#include "actions/Download.h"
#include "catalogue/Catalogue.h"
#include "platform/fs/File.h"
#include "platform/gui/Gui.h"
#include "platform/kernel/Thread.h"
#include "sys/Archive.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "update/ServerInfo.h"

namespace vm::update {
namespace {

constexpr gui::Colour kWhite{255, 255, 255};
constexpr std::string_view kApplyFailedHint = "数据更新失败,已重新打开旧数据库";

gui::Application& App() {
    return gui::Application::instance();
}

gui::Window* LoadedMainWindow() {
    gui::Window* window = App().findWindow(ui::kMainWindowClass);
    return window != nullptr && window->loaded() ? window : nullptr;
}

void Hint(std::string_view text) {
    ui::ShowStatusHint(text, {}, false);
}

} // namespace

std::string CatalogueArchivePath() {
    return sys::ProgramFolder() + std::string(kCatalogueArchive);
}

void StartProgramUpdate() {
    gui::Window* window = LoadedMainWindow();
    if (window == nullptr || window->control("透明标签_更新").text() != ui::kUpdateNowText)
        return;
    actions::RunDownloadEngine(ServerInfo().ValueOf("主程序地址"), sys::ProgramFolder() + "main.7z",
                               -1);
}

void RefreshDownloadEngine() {
    const std::string version = ServerInfo().ValueOf("下载引擎版本");
    Hint("正在取回最新下载引擎 版本为::" + version);
    // A failed refresh keeps its progress hint and the old recorded version, so the next
    // start tries again.
    if (!actions::RepairDownloadEngine(false))
        return;
    Hint("取回最新下载引擎成功");
    sys::WriteSetting("下载引擎版本", version);
    kernel::WaitDispatching(5000);
    Hint("");
}

bool DownloadCatalogueArchive() {
    const std::string bytes = actions::ResolveCloudDriveLink(ServerInfo().ValueOf("数据库地址"));
    // An error page is not an archive; keeping it would replace a good waiting archive and
    // fail at every start from then on.
    if (!actions::LooksLikeSevenZip(bytes))
        return false;
    return fs::WriteFileAtomic(CatalogueArchivePath(), bytes);
}

void RefreshCatalogueArchive() {
    const std::string version = ServerInfo().ValueOf("数据库版本");
    Hint("正在取回最新数据版本为:" + version);
    if (!DownloadCatalogueArchive()) {
        Hint("取回最新数据失败");
        return;
    }
    ui::ShowStatusHint(ui::kCatalogueReadyHint, kWhite, true);
    // Recorded now, while the archive waits, so that the next check does not fetch it again.
    sys::WriteSetting("数据库版本", version);
}

ApplyResult ApplyCatalogueArchiveWithResult(bool atStartup) {
    const std::string archive = CatalogueArchivePath();
    if (!fs::Exists(archive))
        return ApplyResult::NoArchive;
    catalogue::SetCatalogueBusy(true);
    Hint("正在关闭数据库并解密新数据");
    App().invoke([] { catalogue::CloseCatalogue(); });
    kernel::WaitDispatching(100);

    // Extracted beside the catalogue and moved over it only when the whole archive was read:
    // a damaged archive leaves the old catalogue as it was.
    const bool unpacked = sys::UnpackArchive(archive, sys::ProgramFolder() + "set");
    if (unpacked) {
        Hint("数据解密成功,等待重新打开数据库");
        kernel::WaitDispatching(100);
        fs::DeleteFile(archive);
    } else {
        Hint("数据解密失败,等待重新打开旧数据库");
    }
    catalogue::SetCatalogueBusy(false);

    if (atStartup) {
        Hint("");
    } else {
        App().invoke([] {
            if (gui::Window* window = LoadedMainWindow())
                catalogue::StartCatalogue(*window);
        });
        // After a failed unpack the old catalogue is back; "updated" would claim the opposite.
        Hint(unpacked ? "数据已更新" : kApplyFailedHint);
    }
    return unpacked ? ApplyResult::Applied : ApplyResult::Failed;
}

bool ApplyCatalogueArchive(bool atStartup) {
    return ApplyCatalogueArchiveWithResult(atStartup) != ApplyResult::NoArchive;
}

} // namespace vm::update
