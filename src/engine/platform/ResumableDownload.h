#pragma once
// A download that survives interruptions. The bytes go to "<target>.part" and the part file
// is renamed to the target only when the whole body has arrived, so the target's name never
// holds a partial file. Beside the part file "<target>.part.info" remembers which address the
// bytes came from and the server's validator (ETag or Last-Modified): a later run for the same
// address asks only for the missing tail ("Range" with "If-Range"), and a server that answers
// with the whole body again simply starts the file over.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vm::http {
class Exchange;
}

namespace vm::engine {

class PartFile;

// Whether an answer of `contentType` whose body begins with `head` is a web page rather than
// the file a download of `target` expects: an HTML beginning, or an HTML type on bytes that
// carry no archive or program signature. A target that is itself a page (".htm", ".html")
// expects one.
bool IsWebPageAnswer(std::string_view contentType, std::string_view head, std::string_view target);

struct DownloadRequest {
    std::string url;
    std::vector<std::string> headers; // "Name: value" lines
};

struct FetchProgress {
    std::int64_t received = 0; // bytes in the part file
    std::int64_t total = -1;   // -1 while the size is unknown
};

enum class FetchResult { Complete, Cancelled, Failed };

// Why the last attempt failed.
enum class FetchError {
    None,
    BadAddress,  // not a URL libcurl takes
    Resolve,     // host name unknown
    Connect,     // nobody answers
    Timeout,     // silence for longer than the idle limit
    Interrupted, // the connection broke off
    Secure,      // TLS failed
    Redirects,   // too many redirects
    NotFound,    // 404
    Refused,     // any other 4xx, or a status without a file
    Unavailable, // 5xx, 408, 429
    BadResume,   // the server resumed at another place
    Changed,     // the file on the server is no longer the one the part belongs to
    Empty,       // the whole file has no bytes
    WriteFailed, // the disk refused the bytes
    SaveFailed,  // the finished file could not be renamed into place
    WebPage,     // the answer is a web page (an error or "file expired" page), not the file
    Length,      // the body's length differs from the length the server announced
    Busy,        // another download is writing this target's part file
};

struct FetchOutcome {
    FetchResult result = FetchResult::Failed;
    FetchError error = FetchError::None;
    int httpStatus = 0;    // of the last response, 0 without one
    bool partKept = false; // a part file waits for the next run
};

struct FetchLimits {
    int connectMs = 30000;
    int idleMs = 60000; // longest silence inside a response
    // Attempts in a row that bring no new byte before the download is given up; an attempt
    // that moved the file forward starts the count again.
    int attemptsWithoutProgress = 4;
    int retryPauseMs = 500; // grows with each fruitless attempt
};

class ResumableDownload {
public:
    ResumableDownload(DownloadRequest request, std::string target, std::string address,
                      FetchLimits limits = {});
    ~ResumableDownload();

    // Runs on the calling thread until the download is complete, cancelled or given up.
    // `progress` is called from this thread as bytes arrive. The part file is locked for the
    // whole run: while another run holds it, this one fails at once with FetchError::Busy
    // and changes nothing.
    FetchOutcome Run(const std::function<void(const FetchProgress&)>& progress);
    // From any thread: the running request ends within milliseconds. A cancelled download
    // leaves nothing behind (neither target nor part file).
    void Cancel();

    static std::string PartPath(std::string_view target);
    static std::string InfoPath(std::string_view target);

private:
    enum class Attempt { Complete, Retry, Cancelled, Failed };
    FetchOutcome RunLocked(const std::function<void(const FetchProgress&)>& progress);
    Attempt RunAttempt(const std::function<void(const FetchProgress&)>& progress,
                       FetchOutcome& outcome);
    // The part file's size when it belongs to this address, else 0 (and it is emptied).
    std::int64_t ResumableSize(std::string& validator) const;
    bool Cancelled() const;
    void Pause(int ms);
    void Discard() const;
    // Counts an attempt as progress only when the part grew past anything held before: a
    // server that sends the same short body every time would otherwise be asked forever.
    void NoteGrowth();

    DownloadRequest request_;
    std::string target_;
    std::string address_;
    FetchLimits limits_;
    bool progressed_ = false;
    std::int64_t furthest_ = 0;
    std::unique_ptr<PartFile> part_; // locked while Run runs

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
    http::Exchange* exchange_ = nullptr; // the running request, for Cancel
};

} // namespace vm::engine
