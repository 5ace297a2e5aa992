#include "actions/Download.h"

#include "actions/DownloadEngine.h"
#include "catalogue/Catalogue.h"
#include "net/UrlText.h"
#include "net/WinHttpFetch.h"
#include "platform/fs/File.h"
#include "platform/fs/Program.h"
#include "platform/gui/Gui.h"
#include "platform/http/RequestObject.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Gbk.h"
#include "sys/Archive.h"
#include "sys/Endpoints.h"
#include "sys/Process.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"
#include "update/ServerInfo.h"

namespace vm::actions {
namespace {

constexpr std::string_view kSevenZipSignature = "7z\xBC\xAF\x27\x1C";

gui::Application& App() {
    return gui::Application::instance();
}

} // namespace

std::string ResourceLocalPath(std::string_view categoryPath, std::string_view title) {
    return sys::ProgramFolder() + std::string(kResourceFolder) + std::string(categoryPath) +
           std::string(title) + ".rar";
}

std::string CloudDriveFilePage(std::string_view kpAddress) {
    const std::vector<std::string> pieces = text::Split(kpAddress, ",");
    if (pieces.size() < 2 || pieces[1].empty())
        return {};
    return sys::CurrentEndpoints().cloudSite + "/file/id_" + pieces[1] + ".html";
}

std::string EngineOnlyMessage(std::string_view title) {
    return "原来资源 \"" + std::string(title) +
           "\"\r\n\r\n下载页面是不能打开，需要使用Vellumark的下载引擎才可以下载呀！\r\n\r\n"
           "设置通过下载引擎（up.exe）下载，先点击Vellumark右上角的设置，弹出设置窗口进行设置，"
           "然后才可以下载了哦！";
}

void StartResourceDownload(const catalogue::ResourceRecord& record) {
    StartResourceDownload(record.address, record.title, catalogue::CategoryPath(record.address),
                          catalogue::CurrentPage());
}

void StartResourceDownload(std::string_view address, std::string_view title,
                           std::string_view categoryPath, long long page) {
    if (address.empty()) {
        App().messageBox(kNoAddressMessage, "", 0);
        return;
    }
    if (sys::CurrentDownloadSettings().viaEngine) {
        RunDownloadEngine(address, ResourceLocalPath(categoryPath, title), page);
        return;
    }
    if (address.substr(0, 4) == "http") {
        ui::OpenWebPage(address);
        return;
    }
    // A "kp" address without an identifier has no page to open; only the engine can use it.
    const std::string filePage =
        address.substr(0, 2) == "kp" ? CloudDriveFilePage(address) : std::string();
    if (!filePage.empty())
        ui::OpenWebPage(filePage);
    else
        App().messageBox(EngineOnlyMessage(title), kEngineOnlyCaption, 64);
}

void RunDownloadEngine(std::string_view address, std::string_view target, long long number) {
    EnsureDownloadEngine();
    // Started even when the repair failed: the command line then simply starts nothing.
    sys::StartCommandThread(EngineCommandLine(sys::ProgramFolder(), address, target, number))
        .Detach();
    kernel::WaitDispatching(200);
}

void EnsureDownloadEngine() {
    const std::string engine = EngineFilePath(sys::ProgramFolder());
    if (fs::Exists(engine)) {
        // An engine installed from an archive without modes would otherwise start nothing at
        // every click, and nobody would say why.
        if (!fs::IsExecutable(engine) && fs::IsRunnableProgram(engine))
            fs::MakeExecutable(engine);
        return;
    }
    if (App().messageBox(kRepairEngineQuestion, "", 0x44) != gui::IDYES)
        return;
    App().messageBox(RepairDownloadEngine(true) ? kEngineRepaired : kEngineNotRepaired, "", 0);
}

bool RepairDownloadEngine(bool killRunning) {
    return RepairDownloadEngineWithResult(killRunning) == RepairResult::Installed;
}

RepairResult RepairDownloadEngineWithResult(bool killRunning) {
    kernel::WaitDispatching(0);
    const std::string bytes = ResolveCloudDriveLink(update::ServerInfo().ValueOf("下载引擎地址"));
    // Without an archive there is nothing to install, so a running engine is neither ended
    // nor waited for: its downloads go on.
    if (!LooksLikeSevenZip(bytes))
        return RepairResult::NotFetched;
    const std::string archive = sys::ProgramFolder() + "up.7z";
    if (!fs::WriteFileAtomic(archive, bytes))
        return RepairResult::NotUnpacked;

    while (sys::ProcessExists(kEngineFileName)) {
        if (killRunning)
            sys::TerminateProcessByName(kEngineFileName);
        kernel::WaitDispatching(500);
        if (App().ended()) {
            fs::DeleteFile(archive);
            return RepairResult::Abandoned;
        }
    }
    // The archive library stages what it extracts and moves it in only when the whole archive
    // was read and the staged engine can run here, so a damaged up.7z, or one holding a program
    // for another machine, leaves the old engine in place. Archives made on Windows store no
    // modes: the engine gets its execute bit before it lands.
    bool refused = false;
    const auto acceptEngine = [&refused](const std::string& staged) {
        const std::string engine = EngineFilePath(staged);
        refused = !fs::IsRunnableProgram(engine);
        return !refused && (fs::IsExecutable(engine) || fs::MakeExecutable(engine));
    };
    const bool unpacked = sys::UnpackArchiveChecked(archive, sys::ProgramFolder(), acceptEngine);
    fs::DeleteFile(archive);
    if (unpacked)
        return RepairResult::Installed;
    return refused ? RepairResult::NotRunnable : RepairResult::NotUnpacked;
}

std::string ResolveCloudDriveLink(std::string_view pageAddress) {
    // The settings window may repair the engine before anything else has made a request.
    http::InstallHttpClasses();
    const std::string identifier = net::CutBetween(pageAddress, "id_", ".htm", false);
    std::string method = "GET";
    std::string headers = "Referer: " + std::string(pageAddress);
    net::WinHttpFetchArgs args;
    args.method = &method;
    args.extraHeaders = &headers;
    return net::WinHttpFetch(sys::CurrentEndpoints().cloudScheduler + "/cdlsched/getdl?fid=" +
                                 identifier + "&acc_params=entryid:" + identifier + ",pickupCode:",
                             args);
}

bool LooksLikeSevenZip(std::string_view bytes) {
    return bytes.substr(0, kSevenZipSignature.size()) == kSevenZipSignature;
}

} // namespace vm::actions
