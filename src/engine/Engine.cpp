#include "engine/Engine.h"

#include "engine/ProgramUpdate.h"
#include "platform/fs/File.h"
#include "platform/fs/Path.h"
#include "platform/fs/Profile.h"
#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/Thread.h"
#include "platform/shell/Shell.h"
#include "sys/Archive.h"
#include "sys/Endpoints.h"
#include "sys/Process.h"
#include "sys/Settings.h"

namespace vm::engine {
namespace {

bool SettingIsOn(const std::string& programFolder, std::string_view key) {
    const std::string value =
        fs::ReadProfileString(programFolder + "set\\Start.ini", "主窗口", key, "0");
    return sys::ParseLeadingNumber(value) == 1;
}

} // namespace

std::string FailureText(const FetchOutcome& outcome) {
    const std::string status =
        outcome.httpStatus > 0 ? " (HTTP " + std::to_string(outcome.httpStatus) + ")" : "";
    std::string text;
    switch (outcome.error) {
    case FetchError::None:
        return {};
    case FetchError::BadAddress:
        text = "下载地址无效";
        break;
    case FetchError::Resolve:
        text = "找不到下载服务器";
        break;
    case FetchError::Connect:
        text = "无法连接下载服务器";
        break;
    case FetchError::Timeout:
        text = "下载服务器长时间没有响应";
        break;
    case FetchError::Interrupted:
        text = "下载连接中断";
        break;
    case FetchError::Secure:
        text = "安全连接失败";
        break;
    case FetchError::Redirects:
        text = "下载地址重定向次数过多";
        break;
    case FetchError::NotFound:
        text = "下载服务器上没有这个文件" + status;
        break;
    case FetchError::Refused:
        text = "下载服务器拒绝了请求" + status;
        break;
    case FetchError::Unavailable:
        text = "下载服务器暂时不可用" + status;
        break;
    case FetchError::BadResume:
        text = "下载服务器续传的位置不对";
        break;
    case FetchError::Changed:
        text = "下载服务器上的文件已改变";
        break;
    case FetchError::Empty:
        text = "下载服务器返回了空文件";
        break;
    case FetchError::WriteFailed:
        text = "写入文件失败,磁盘空间可能不足";
        break;
    case FetchError::SaveFailed:
        text = "无法把下载好的文件保存到目标位置";
        break;
    case FetchError::WebPage:
        text = "下载服务器返回的是一个网页,不是要下载的文件(文件可能已失效)" + status;
        break;
    case FetchError::Length:
        text = "收到的文件长度与下载服务器声明的长度不一致";
        break;
    case FetchError::Busy:
        // Nothing of the other run's part was touched, so nothing is said about a part.
        return "这个资源正在由另一个下载引擎下载,请等它下载完成";
    }
    if (outcome.partKept)
        text += "\r\n已下载的部分会在下次下载同一资源时继续。";
    return text;
}

EngineOptions OptionsFor(std::string programFolder) {
    EngineOptions options;
    options.programFolder = std::move(programFolder);
    return options;
}

Engine::Engine(std::vector<std::string> gbkArguments, EngineOptions options)
    : arguments_(std::move(gbkArguments)), options_(std::move(options)) {}

Engine::~Engine() = default;

EngineStatus Engine::Status() const {
    const std::lock_guard lock(mutex_);
    return status_;
}

std::string Engine::Target() const {
    const std::lock_guard lock(mutex_);
    return job_ ? job_->target : std::string();
}

void Engine::Cancel() {
    std::shared_ptr<ResumableDownload> download;
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        download = download_;
    }
    if (download)
        download->Cancel();
}

bool Engine::OpenFolder() const {
    // The folder is opened by a started process, not over the session bus from a thread of
    // ours: the engine may end a moment later, and that thread with it.
    const std::string target = Target();
    return !target.empty() && fs::Exists(target) &&
           shell::ShellExecute("open", fs::FolderOf(target), "", "", 1) > 32;
}

bool Engine::Finished() const {
    const std::lock_guard lock(mutex_);
    return finished_;
}

void Engine::SetPhase(Phase phase, std::string message) {
    const std::lock_guard lock(mutex_);
    status_.phase = phase;
    status_.message = std::move(message);
}

void Engine::Fail(std::string message) {
    SetPhase(Phase::Failed, std::move(message));
}

void Engine::OnProgress(const FetchProgress& progress) {
    const std::lock_guard lock(mutex_);
    status_.received = progress.received;
    status_.total = progress.total;
    status_.message = "正在下载...";
}

bool Engine::PostNotice(long long number) const {
    // The queue holds a handful of records; a full one drains as soon as the window's thread
    // is free, so a short retry is enough. Without the window there is nobody to tell.
    for (int i = 0; i < 50; ++i) {
        if (kernel::PostMessageToClass(options_.windowClass, {kDownloadFinishedMessage, number, 0}))
            return true;
        if (!kernel::ClassExists(options_.windowClass))
            return false;
        kernel::Sleep(100);
    }
    return false;
}

void Engine::Run() {
    RunSteps();
    const std::lock_guard lock(mutex_);
    finished_ = true;
}

void Engine::RunSteps() {
    std::string error;
    std::optional<Job> job = ParseArguments(arguments_, error);
    if (!job)
        return Fail(error);
    {
        const std::lock_guard lock(mutex_);
        job_ = job;
        status_.fileName = fs::FileNameOf(job->target);
    }
    const std::string& folder = options_.programFolder;
    if (!IsInsideFolder(job->target, folder))
        return Fail("保存路径不在程序文件夹内,拒绝下载: " + job->target);
    const std::optional<DownloadRequest> request =
        RequestFor(job->address, sys::LoadEndpoints(folder));
    if (!request)
        return Fail("无法识别的下载地址: " + job->address);
    programUpdate_ = engine::IsProgramUpdate(*job, folder);
    openFolderAfter_ = SettingIsOn(folder, "下载打开");
    closeAfter_ = SettingIsOn(folder, "下载关闭");
    if (sys::CreateFolderPath(fs::FolderOf(job->target)) == 1)
        return Fail("无法创建文件夹 " + fs::FolderOf(job->target));

    auto download =
        std::make_shared<ResumableDownload>(*request, job->target, job->address, options_.limits);
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_) {
            status_.phase = Phase::Cancelled;
            status_.message = "下载已取消";
            return;
        }
        download_ = download;
        status_.phase = Phase::Downloading;
        status_.message = "正在连接下载服务器...";
    }
    const FetchOutcome outcome =
        download->Run([this](const FetchProgress& progress) { OnProgress(progress); });
    if (outcome.result == FetchResult::Cancelled)
        return SetPhase(Phase::Cancelled, "下载已取消");
    if (outcome.result == FetchResult::Failed)
        return Fail(FailureText(outcome));

    if (programUpdate_) {
        SetPhase(Phase::Installing, "正在更新程序...");
        sys::ArchiveLibraryState& archive = sys::ProgramArchiveLibrary();
        if (!archive.ready)
            sys::LoadBuiltinArchiveLibrary(archive);
        UpdatePlan plan;
        plan.programFolder = folder;
        plan.archive = job->target;
        plan.programFile = options_.programFile;
        plan.windowClass = options_.windowClass;
        plan.closeWaitMs = options_.programCloseWaitMs;
        const UpdateOutcome update = ApplyProgramUpdate(plan);
        return update.ok ? SetPhase(Phase::Done, update.message) : Fail(update.message);
    }

    PostNotice(job->number);
    SetPhase(Phase::Done, "下载完成");
    if (openFolderAfter_)
        OpenFolder();
}

} // namespace vm::engine
