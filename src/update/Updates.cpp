#include "update/Updates.h"

#include "actions/Download.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueReader.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"
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

// The staged TreeList.mdb of a catalogue archive; an archive without one is no catalogue.
bool StagedCatalogueOpens(const std::string& stagedFolder) {
    const std::string catalogueFile = stagedFolder + "TreeList.mdb";
    return fs::Exists(catalogueFile) && !fs::IsFolder(catalogueFile) &&
           CatalogueFileOpens(catalogueFile);
}

// Keeps the last refused archive out of the way of the next start.
void SetAside(const std::string& archive) {
    const std::string refused = sys::ProgramFolder() + std::string(kRefusedCatalogueArchive);
    fs::DeleteFile(refused);
    if (!fs::MoveFile(archive, refused))
        fs::DeleteFile(archive);
}

} // namespace

bool CatalogueFileOpens(const std::string& path) {
    db::DbConnection connection;
    if (!connection.openAccess(path, std::string(catalogue::kCataloguePassword), 0))
        return false;
    db::DbRecordset list;
    db::DbRecordset tree;
    list.setConnection(connection);
    tree.setConnection(connection);
    const bool opened = list.open("List", 2, 0, 1) && tree.open("Tree", 2, 0, 1);
    if (opened)
        catalogue::ReadTables(list, tree);
    list.close();
    tree.close();
    connection.close();
    return opened;
}

bool CatalogueArchiveIsGood(const std::string& path) {
    bool good = false;
    // The check always refuses, so nothing is moved: only its verdict is kept.
    sys::UnpackArchiveChecked(path, sys::ProgramFolder() + "set",
                              [&good](const std::string& staged) {
                                  good = StagedCatalogueOpens(staged);
                                  return false;
                              });
    return good;
}

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
    // start tries again. An engine that cannot run here is said so: the hint alone would look
    // like a refresh still under way.
    const actions::RepairResult repair = actions::RepairDownloadEngineWithResult(false);
    if (repair == actions::RepairResult::NotRunnable)
        Hint(actions::kEngineNotRunnableHint);
    if (repair != actions::RepairResult::Installed)
        return;
    Hint("取回最新下载引擎成功");
    sys::WriteSetting("下载引擎版本", version);
    kernel::WaitDispatching(5000, [] { return App().ended(); });
    Hint("");
}

bool DownloadCatalogueArchive() {
    const std::string bytes = actions::ResolveCloudDriveLink(ServerInfo().ValueOf("数据库地址"));
    // An error page is not an archive; keeping it would replace a good waiting archive and
    // fail at every start from then on.
    if (!actions::LooksLikeSevenZip(bytes))
        return false;
    // Judged before it takes the place of a waiting archive: one that unpacks but holds no
    // catalogue that opens would otherwise replace the good catalogue at the next start.
    const std::string arriving = CatalogueArchivePath() + ".new";
    if (!fs::WriteFileAtomic(arriving, bytes))
        return false;
    if (!CatalogueArchiveIsGood(arriving) || !fs::MoveFile(arriving, CatalogueArchivePath())) {
        fs::DeleteFile(arriving);
        return false;
    }
    return true;
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

    // Extracted beside the catalogue and moved over it only when the whole archive was read
    // and the new catalogue opens: a damaged archive, or a TreeList.mdb that is empty, garbage,
    // truncated or locked with another password, leaves the old catalogue as it was.
    const bool unpacked =
        sys::UnpackArchiveChecked(archive, sys::ProgramFolder() + "set", StagedCatalogueOpens);
    if (unpacked) {
        Hint("数据解密成功,等待重新打开数据库");
        kernel::WaitDispatching(100);
        fs::DeleteFile(archive);
    } else {
        Hint("数据解密失败,等待重新打开旧数据库");
        // Such an archive fails the same way at every start; the server check fetches the
        // catalogue again once no version is on record.
        SetAside(archive);
        sys::WriteSetting("数据库版本", "");
    }
    catalogue::SetCatalogueBusy(false);

    if (atStartup) {
        Hint(unpacked ? "" : kApplyFailedHint);
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
