#pragma once
// Downloading resources: the download decision for a resource, running the download engine
// and repairing it from up.7z, the cloud drive's file pages resolved into the file itself, and
// the local path of a downloaded resource.

#include "catalogue/Records.h"

#include <string>
#include <string_view>

namespace vm::actions {

constexpr std::string_view kResourceFolder = "资源目录\\";
constexpr std::string_view kNoAddressMessage = "暂时没有下载的地址,无法下载!";
constexpr std::string_view kEngineOnlyCaption = "唉哟！悲剧！";
constexpr std::string_view kRepairEngineQuestion =
    "未发现下载引擎,是否进行修复?\r\n若不进行修复,资源将不能通过下载引擎自动下载!";
constexpr std::string_view kEngineRepaired = "下载引擎 修复成功!";
constexpr std::string_view kEngineNotRepaired = "下载引擎 修复失败!";
// Shown when an engine archive held nothing this machine can start.
constexpr std::string_view kEngineNotRunnableHint =
    "新的下载引擎不能在本机运行,继续使用原来的下载引擎";

// The "#xz#" command: through the download engine or, in the other mode, the resource's web
// or cloud-drive page in the user's browser. The category path and page come from the open
// catalogue.
void StartResourceDownload(const catalogue::ResourceRecord& record);
// The same decision with the category path and the list page given.
void StartResourceDownload(std::string_view address, std::string_view title,
                           std::string_view categoryPath, long long page);

// ProgramFolder + "资源目录\" + category path + title + ".rar".
std::string ResourceLocalPath(std::string_view categoryPath, std::string_view title);
// The cloud drive's file page for a "kp,<identifier>,..." address; "" when the address has no
// identifier.
std::string CloudDriveFilePage(std::string_view kpAddress);
// The message of the hand mode for an address only the engine understands.
std::string EngineOnlyMessage(std::string_view title);

// Offers the repair when up.exe is missing, then starts the engine with its command line on a
// short-lived thread and waits 200 ms dispatching messages.
void RunDownloadEngine(std::string_view address, std::string_view target, long long number);
void EnsureDownloadEngine();
// Fetches up.7z from the server's "下载引擎地址" and unpacks it over the program folder once no
// engine runs any more (ending running engines with `killRunning`, else waiting for them).
// True when the archive was unpacked.
bool RepairDownloadEngine(bool killRunning);

enum class RepairResult {
    Installed,   // the new up.exe is in place and can be started
    NotFetched,  // no archive arrived; nothing was waited for or ended
    NotRunnable, // the archive holds no up.exe that this machine can run; the old one stays
    NotUnpacked, // damaged, or it could not be written; the old engine stays
    Abandoned,   // the program ended while the engine was still running
};
RepairResult RepairDownloadEngineWithResult(bool killRunning);

// The file behind a cloud-drive file page ("...id_<identifier>.htm..."), fetched from the
// download scheduler; empty on failure.
std::string ResolveCloudDriveLink(std::string_view pageAddress);

// True when the bytes start like a 7z archive. Error pages and empty bodies do not.
bool LooksLikeSevenZip(std::string_view bytes);
} // namespace vm::actions
