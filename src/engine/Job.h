#pragma once
// One run of the download engine: what the program asked for on the command line, checked
// before anything is fetched or written.
//
//   up.exe ADDRESS TARGET NUMBER
//
// ADDRESS is an http(s) address or a cloud-drive reference "kp,<file id>,..."; TARGET is a
// Windows path text with every blank written as "\[k]"; NUMBER comes back to the main window
// with the download-finished notice (-1 for the program update).

#include "engine/platform/ResumableDownload.h"
#include "sys/Endpoints.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm::engine {

constexpr std::string_view kProgramUpdateArchive = "main.7z";
inline constexpr long long kProgramUpdateNumber = -1;

struct Job {
    std::string address;
    std::string target; // blanks restored
    long long number = 0;
};

// "\[k]" back to blanks, a character at a time so that a trail byte of 0x5C is never taken
// for the backslash of an escape.
std::string RestoreBlanks(std::string_view text);

// The arguments after the program's own name, GBK. Empty with `error` set (GBK) when they do
// not make a job: too few, an empty address or target, a number that is not an integer.
std::optional<Job> ParseArguments(const std::vector<std::string>& arguments, std::string& error);

// True when `target` names a file below `programFolder` (ending in "\"): same drive and
// folder, no empty, "." or ".." piece after it, and a file name. A catalogue title is part of
// the target, so this is what keeps a hostile title from writing anywhere else.
bool IsInsideFolder(std::string_view target, std::string_view programFolder);

// The program update: number -1 and the archive main.7z directly in the program folder.
bool IsProgramUpdate(const Job& job, std::string_view programFolder);

// The request that fetches an address: an http(s) address as it is; "kp,<id>,..." through
// the cloud drive's download scheduler, with the file page as Referer. Empty for any other
// form and for a "kp" reference without an identifier.
std::optional<DownloadRequest> RequestFor(std::string_view address,
                                          const sys::Endpoints& endpoints);

} // namespace vm::engine
