#pragma once
// The HTTP engine under both request objects: one request and its response over libcurl's multi
// interface, driven by the calling thread, with per-phase time limits and a cancellation that
// any thread may trigger. Exchange adds what the Windows stacks do around single requests:
// following redirects by hand (so that cookies and the method change are ours to decide) and
// talking to a cookie store.
//
// Texts are bytes: URLs, header lines and bodies go on the wire exactly as given (GBK where the
// logic wrote them), except that URL bytes HTTP does not allow are percent-encoded.

#include "platform/http/Transfers.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vm::http {

class CookieStore;

// Limits in milliseconds; 0 means none. The resolve and connect limits run from the start of
// their phase; the send and receive limits are idle times: each byte that moves restarts them.
struct Timeouts {
    int resolveMs = 0;
    int connectMs = 60000;
    int sendMs = 30000;
    int receiveMs = 30000;
};

struct OutgoingRequest {
    std::string url;    // absolute http:// or https:// address
    std::string method; // "GET", "POST", ...
    // "Name: value" lines in the order they go out. Without an "Accept" or "Content-Type" line
    // none is sent (libcurl would add its own otherwise).
    std::vector<std::string> headers;
    std::string body;
    std::string userAgent;    // empty: no User-Agent line unless `headers` has one
    std::string proxy;        // "host:port" of an HTTP proxy; empty: see systemProxy
    bool systemProxy = false; // without `proxy`: the system's proxy (true) or direct (false)
    bool http10 = false;
    bool verifyPeer = true;
    Timeouts timeouts;
};

enum class TransferError {
    None,
    BadUrl,
    Resolve,
    Connect,
    Timeout,
    Cancelled,
    Send,
    Receive,
    Secure,
    TooManyRedirects,
    Other,
};

// One request. Not thread-safe except Cancel() (and StopAllTransfers()).
class Transfer {
public:
    explicit Transfer(const OutgoingRequest& outgoing);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Runs until the final response's header block is complete (interim 1xx blocks are
    // skipped). False on failure; Error() says why.
    bool AwaitHeaders();
    // Up to `size` body bytes, waiting until some arrive; 0 at the end of the body or on failure.
    std::size_t Read(std::uint8_t* out, std::size_t size);
    // The rest of the body; false when the transfer failed before its end.
    bool ReadAll(std::string& body);

    // Makes the current wait and every later one fail with Cancelled, within microseconds.
    void Cancel();

    TransferError Error() const { return error_; }
    int Status() const { return status_; }
    std::string StatusText() const;
    // Status line, header lines and the closing blank line, each ending in CR LF.
    const std::string& HeaderBlock() const { return headerBlock_; }
    // Where a 3xx response points, resolved against the request's URL; empty otherwise.
    std::string RedirectUrl() const;
    const std::string& Url() const { return url_; }

private:
    struct Curl;
    template <class Done> bool Drive(Done done);
    bool PhaseTimedOut(std::chrono::steady_clock::time_point now);
    void Fail(TransferError error);
    void Enlist();
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);

    std::unique_ptr<Curl> curl_;
    std::mutex wakeMutex_; // keeps the multi handle alive while another thread wakes it
    std::atomic<bool> cancelled_ = false;

    std::string url_;
    std::string body_;
    Timeouts timeouts_;
    bool started_ = false;
    bool finished_ = false;
    bool headersDone_ = false;
    TransferError error_ = TransferError::None;

    int status_ = 0;
    std::string headerBlock_;
    std::string pending_; // body bytes received and not yet read
    std::size_t pendingRead_ = 0;

    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastActivity_;
    std::uint64_t seenBytes_ = 0; // header and body bytes received
    std::uint64_t lastMoved_ = 0;
    bool connected_ = false;
};

struct RedirectPolicy {
    bool follow = true;
    int maxRedirects = 10;
    bool httpToHttps = true; // follow a redirect from http to https
    bool httpsToHttp = true;
};

// One request with the redirects it leads to. Cancel() is thread-safe.
class Exchange {
public:
    // `cookies`, when given, supplies a Cookie line for each hop whose headers have none, and
    // receives every Set-Cookie of every response, redirects included.
    Exchange(OutgoingRequest outgoing, RedirectPolicy policy, CookieStore* cookies);
    ~Exchange();

    bool AwaitHeaders();
    std::size_t Read(std::uint8_t* out, std::size_t size);
    bool ReadAll(std::string& body);
    void Cancel();

    TransferError Error() const { return error_; }
    // The final response; null before AwaitHeaders or when no response arrived.
    const Transfer* Response() const { return current_.get(); }
    const std::string& FinalUrl() const { return outgoing_.url; }

private:
    std::shared_ptr<Transfer> StartHop();

    OutgoingRequest outgoing_;
    RedirectPolicy policy_;
    CookieStore* cookies_;
    std::mutex mutex_;
    bool cancelled_ = false;
    std::shared_ptr<Transfer> current_;
    TransferError error_ = TransferError::None;
};

// Percent-encodes the bytes HTTP does not allow in a request target (controls, blanks, bytes of
// 0x80 and up, and a few delimiters browsers escape); everything else is kept.
std::string EscapeUrlBytes(std::string_view url);

// Splits a header block into its lines without their line ends; empty lines are dropped.
std::vector<std::string> HeaderLines(std::string_view block);
// The value of the first line named `name` (ASCII case ignored), trimmed; "" when absent.
std::string HeaderValue(std::string_view block, std::string_view name);
// True when some line of `lines` is named `name` (ASCII case ignored).
bool HasHeader(const std::vector<std::string>& lines, std::string_view name);

} // namespace vm::http
