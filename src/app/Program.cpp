#include "app/Program.h"

#include "actions/Download.h"
#include "actions/LinkCommand.h"
#include "app/WorkingFolder.h"
#include "catalogue/Catalogue.h"
#include "platform/ado/Ado.h"
#include "platform/fs/File.h"
#include "platform/fs/Path.h"
#include "platform/http/CookieStore.h"
#include "platform/http/RequestObject.h"
#include "platform/http/Transfers.h"
#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/NamedEvent.h"
#include "platform/text/Gbk.h"
#include "sys/Archive.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/SettingsWindow.h"
#include "ui/ViewerWindow.h"
#include "update/ServerCheck.h"
#include "update/ServerInfo.h"
#include "update/Updates.h"

namespace vm::app {
namespace {

gui::Application& App() {
    return gui::Application::instance();
}

std::string InstanceEventName() {
    return "velum " + sys::CurrentEndpoints().ForumHost();
}

} // namespace

Program::Program(Options options)
    : options_(std::move(options)), mainWindow_(ui::MainWindowHandlers{}) {
    if (options_.executablePath.empty())
        options_.executablePath = fs::ExecutablePath();
    mainWindow_ = ui::MainWindow(Handlers());
}

Program::~Program() = default;

ui::MainWindowHandlers Program::Handlers() {
    ui::MainWindowHandlers h;
    h.created = [this](gui::Window& window) { OnCreated(window); };
    h.firstActivated = [this] { serverCheck_ = update::StartServerCheck(); };
    h.openSettings = [] {
        ui::SettingsWindow settings(SettingsHandlers());
        settings.Load(App().mainWindow());
    };
    h.showList = [](int action, long long category) { catalogue::ShowList(action, category); };
    h.linkCommand = [](gui::EventArgs& args) { actions::DispatchLinkCommand(args); };
    h.applyDownloadedCatalogue = [] { update::ApplyCatalogueArchive(false); };
    h.startProgramUpdate = [] { update::StartProgramUpdate(); };
    h.viewerWindow = [] { return ui::ViewerWindow::Loaded(); };
    h.closeCatalogue = [] { catalogue::CloseCatalogue(); };
    h.currentPage = [] { return catalogue::CurrentPage(); };
    return h;
}

ui::SettingsWindowHandlers Program::SettingsHandlers() {
    ui::SettingsWindowHandlers h;
    h.checkProgramVersion = [] { update::CheckProgramVersion(); };
    h.downloadCatalogueArchive = [] { return update::DownloadCatalogueArchive(); };
    h.applyCatalogueArchive = [] {
        switch (update::ApplyCatalogueArchiveWithResult(false)) {
        case update::ApplyResult::Applied:
            return ui::CatalogueApplyResult::Applied;
        case update::ApplyResult::Failed:
            return ui::CatalogueApplyResult::Failed;
        case update::ApplyResult::NoArchive:
            break;
        }
        return ui::CatalogueApplyResult::NoArchive;
    };
    h.repairDownloadEngine = [](bool endRunning) {
        return actions::RepairDownloadEngine(endRunning);
    };
    return h;
}

int Program::Run() {
    Start();
    const int exitCode = App().run();
    EndServerCheck();
    return exitCode;
}

void Program::Start() {
    CreateObjects();
    App().onExit([this] { ExitCleanup(); });
    LoadArchiveLibrary();
    // The addresses are configuration read once; the window's label and the single-instance
    // event both need them before the start-up routine runs.
    sys::SetCurrentEndpoints(sys::LoadEndpoints(fs::FolderOf(options_.executablePath)));
    LoadMainWindow();
}

void Program::CreateObjects() {
    // The late-bound classes the logic creates by name: data access and the request objects.
    ado::InstallAdoClasses();
    http::InstallHttpClasses();
    http::ResumeTransfers(); // a program started again in this process
    windowList_ = std::make_unique<std::vector<std::string>>();
    sys::CurrentDownloadSettings() = sys::DownloadSettings{};
    catalogue::CreateCatalogueObjects();
}

void Program::LoadArchiveLibrary() {
    // Loaded from the image the program carries; a failure leaves both addresses 0, and every
    // later unpacking then fails on its own.
    sys::LoadBuiltinArchiveLibrary(sys::ProgramArchiveLibrary());
}

gui::Window& Program::LoadMainWindow() {
    return mainWindow_.Load(sys::CurrentEndpoints().forum);
}

bool Program::RefuseSecondInstance() {
    const std::string name = InstanceEventName();
    instanceEvent_ = kernel::NamedEvent::Create(name);
    if (instanceEvent_ != nullptr || !kernel::NamedEvent::Exists(name))
        return false;
    // The other instance's window restores and raises itself through its default procedure.
    const std::string_view windowClass = ui::kMainWindowClass;
    kernel::PostMessageToClass(windowClass, {gui::WM_SYSCOMMAND, gui::SC_RESTORE, 0});
    kernel::PostMessageToClass(windowClass, {gui::WM_ACTIVATE, 1, 0});
    App().endProgram(0);
    return true;
}

void Program::ListenForPostedMessages(gui::Window& window) {
    endpoint_ = kernel::MessageEndpoint::Create(ui::kMainWindowClass);
    if (endpoint_ == nullptr)
        return;
    kernel::MessageEndpoint* endpoint = endpoint_.get();
    App().listenForMessages(window, endpoint->fd(), [endpoint] {
        std::vector<gui::PostedMessage> records;
        while (const auto record = endpoint->Receive())
            records.push_back({record->message, record->wParam, record->lParam});
        return records;
    });
}

void Program::OnCreated(gui::Window& window) {
    if (RefuseSecondInstance())
        return;
    mainWindow_.InstallHook(window);
    ListenForPostedMessages(window);
    RunStartupRoutine(window);
}

void Program::RunStartupRoutine(gui::Window& window) {
    sys::SetProgramFolder(fs::FolderOf(options_.executablePath));
    const std::string& folder = sys::ProgramFolder();

    if (text::Contains(folder, "local") || text::Contains(folder, "temp")) {
        App().messageBox(kArchiveMessage, "", 64);
        App().endProgram(0);
        return;
    }

    if (!IsWritableFolder(folder + "set"))
        CreateFolderTree(folder + "set");
    // Cookies with an expiry outlive the run beside the settings; session cookies do not.
    http::CookieStore::Global().KeepIn(folder + "set\\Cookies.txt");
    if (!fs::Exists(sys::SettingsFilePath()))
        sys::WriteDownloadSettings(true, true, true);
    if (!IsWritableFolder(folder + "set\\dt"))
        CreateFolderTree(folder + "set\\dt");
    WriteBuiltinPictures(folder);

    window.control("透明标签_版本信息").setText(ui::kVersionText);
    window.control("编辑框_搜索框").setText(ui::kSearchPrompt);
    sys::LoadDownloadSettings();

    window.setRoundedOutline(6, 7);
    window.setStyle(window.style() | gui::WS_SYSMENU);

    // A catalogue archive left waiting in set\ replaces the catalogue before it opens.
    update::ApplyCatalogueArchive(true);

    listPagePath_ = WriteListPage(folder);
    window.control("超文本浏览框1").navigate(listPagePath_);

    StartCatalogue();
}

void Program::StartCatalogue() {
    if (gui::Window* main = App().findWindow(ui::kMainWindowClass))
        catalogue::StartCatalogue(*main);
}

void Program::ExitCleanup() {
    if (exitCleanupRan_)
        return;
    exitCleanupRan_ = true;
    // The server check unpacks with the archive library, reads the server information and
    // writes below ProgramFolder: none of it may go while the check runs. Its requests fail
    // from here on (the information pages wait up to 3000 s otherwise), and its waits and
    // message boxes end once the program has ended, so it is joined after the message loop.
    http::StopAllTransfers();
    if (serverCheck_.valid() && !serverCheck_.Wait(0)) {
        releaseAfterServerCheck_ = true;
        return;
    }
    ReleaseProgramObjects();
}

void Program::EndServerCheck() {
    if (!serverCheck_.valid())
        return;
    if (!serverCheck_.Wait(kServerCheckEndMs)) {
        // Still busy (unpacking, a process it waits for): its objects stay to the end of the
        // process rather than go from under it.
        serverCheck_.Detach();
        return;
    }
    serverCheck_.Join();
    if (releaseAfterServerCheck_) {
        releaseAfterServerCheck_ = false;
        ReleaseProgramObjects();
    }
}

void Program::ReleaseProgramObjects() {
    sys::ArchiveLibraryState& archive = sys::ProgramArchiveLibrary();
    archive.library.Unload();
    archive.ready = false;
    archive.list7zAddress = 0;
    archive.unpack7zAddress = 0;
    archive.unpack7zCheckedAddress = 0;
    update::ServerInfo().Clear();
    sys::SetProgramFolder({});
    windowList_.reset();
    listPagePath_.clear();
    sys::CurrentDownloadSettings() = sys::DownloadSettings{};
    catalogue::ReleaseCatalogueConnection();
    catalogue::ReleaseListState();
    catalogue::ReleaseCachedDocument();
    endpoint_.reset();
}

} // namespace vm::app
