#include "engine/Job.h"

#include "platform/fs/Path.h"
#include "platform/text/Gbk.h"

#include <charconv>

namespace vm::engine {
namespace {

constexpr std::string_view kBlankEscape = "\\[k]";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           text::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

} // namespace

std::string RestoreBlanks(std::string_view text) {
    return text::ReplaceAll(text, kBlankEscape, " ");
}

std::optional<Job> ParseArguments(const std::vector<std::string>& arguments, std::string& error) {
    if (arguments.size() < 3) {
        error = "用法: up.exe 下载地址 保存路径 页号";
        return std::nullopt;
    }
    Job job;
    job.address = arguments.front();
    // A target that reached us in several pieces had blanks the program did not escape; the
    // pieces between the address and the number are still the one path.
    std::string target = arguments[1];
    for (std::size_t i = 2; i + 1 < arguments.size(); ++i)
        target += " " + arguments[i];
    job.target = RestoreBlanks(target);
    const std::string& number = arguments.back();
    const char* end = number.data() + number.size();
    const auto parsed = std::from_chars(number.data(), end, job.number);
    if (job.address.empty() || job.target.empty()) {
        error = "下载地址或保存路径为空";
        return std::nullopt;
    }
    if (parsed.ec != std::errc() || parsed.ptr != end) {
        error = "页号不是整数: " + number;
        return std::nullopt;
    }
    return job;
}

bool IsInsideFolder(std::string_view target, std::string_view programFolder) {
    if (programFolder.empty() || !text::EndsWithChar(programFolder, '\\') ||
        target.size() <= programFolder.size() ||
        target.substr(0, programFolder.size()) != programFolder)
        return false;
    // The pieces below the folder; "/" separates as well once the path reaches Linux.
    const std::string rest = text::ReplaceAll(target.substr(programFolder.size()), "/", "\\");
    if (text::EndsWithChar(rest, '\\'))
        return false;
    const std::vector<std::string> pieces = text::Split(rest, "\\");
    if (pieces.empty())
        return false;
    for (const std::string& piece : pieces)
        if (piece.empty() || piece == "." || piece == "..")
            return false;
    return true;
}

bool IsProgramUpdate(const Job& job, std::string_view programFolder) {
    return job.number == kProgramUpdateNumber && fs::FolderOf(job.target) == programFolder &&
           text::EqualsNoCase(fs::FileNameOf(job.target), kProgramUpdateArchive);
}

std::optional<DownloadRequest> RequestFor(std::string_view address,
                                          const sys::Endpoints& endpoints) {
    if (StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://"))
        return DownloadRequest{std::string(address), {}};
    if (address.substr(0, 2) != "kp")
        return std::nullopt;
    const std::vector<std::string> pieces = text::Split(address, ",");
    if (pieces.size() < 2 || pieces[1].empty())
        return std::nullopt;
    const std::string& id = pieces[1];
    // The same request the program makes for its own archives: the scheduler hands out the
    // file itself to a request that comes from the file's page.
    DownloadRequest request;
    request.url = endpoints.cloudScheduler + "/cdlsched/getdl?fid=" + id +
                  "&acc_params=entryid:" + id + ",pickupCode:";
    request.headers.push_back("Referer: " + endpoints.cloudSite + "/file/id_" + id + ".html");
    return request;
}

} // namespace vm::engine
