#include "platform/http/Transfer.h"

#include "platform/http/CookieStore.h"
#include "platform/http/SystemProxy.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <unordered_set>

namespace vm::http {
namespace {

using Clock = std::chrono::steady_clock;

// Longest wait between two looks at the clock when libcurl has nothing sooner to do. Time
// limits are checked at least this often; a cancellation wakes the wait at once.
constexpr int kMaxPollMs = 200;
// A response whose header block outgrows this is refused rather than buffered.
constexpr std::size_t kMaxHeaderBlock = 1 << 20;

void EnsureCurlInitialised() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)result;
}

TransferError ErrorOf(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return TransferError::None;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return TransferError::BadUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TransferError::Resolve;
    case CURLE_COULDNT_CONNECT:
        return TransferError::Connect;
    case CURLE_OPERATION_TIMEDOUT:
        return TransferError::Timeout;
    case CURLE_SEND_ERROR:
        return TransferError::Send;
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_WRITE_ERROR:
        return TransferError::Receive;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return TransferError::Secure;
    default:
        return TransferError::Other;
    }
}

std::string_view TrimLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The name of a "Name: value" line, or "" when it has no colon.
std::string_view NameOf(std::string_view line) {
    const std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(0, colon));
}

bool IsSecure(std::string_view url) {
    return text::EqualsNoCase(url.substr(0, 8), "https://");
}

bool IsHttpUrl(std::string_view url) {
    return IsSecure(url) || text::EqualsNoCase(url.substr(0, 7), "http://");
}

// The transfers that may be waiting, for StopAllTransfers(). Never destroyed: a transfer on
// another thread may outlive the static destructors.
struct LiveTransfers {
    std::mutex mutex;
    std::unordered_set<Transfer*> transfers;
    bool stopped = false;
};

LiveTransfers& Live() {
    static auto* const live = new LiveTransfers;
    return *live;
}

} // namespace

void StopAllTransfers() {
    LiveTransfers& live = Live();
    const std::lock_guard lock(live.mutex);
    live.stopped = true;
    for (Transfer* transfer : live.transfers)
        transfer->Cancel();
}

void ResumeTransfers() {
    LiveTransfers& live = Live();
    const std::lock_guard lock(live.mutex);
    live.stopped = false;
}

bool TransfersStopped() {
    LiveTransfers& live = Live();
    const std::lock_guard lock(live.mutex);
    return live.stopped;
}

struct Transfer::Curl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
};

Transfer::Transfer(const OutgoingRequest& outgoing)
    : curl_(std::make_unique<Curl>()), url_(EscapeUrlBytes(outgoing.url)), body_(outgoing.body),
      timeouts_(outgoing.timeouts) {
    EnsureCurlInitialised();
    if (!IsHttpUrl(url_)) {
        Fail(TransferError::BadUrl);
        return;
    }
    curl_->easy = curl_easy_init();
    curl_->multi = curl_multi_init();
    if (!curl_->easy || !curl_->multi) {
        Fail(TransferError::Other);
        return;
    }
    CURL* easy = curl_->easy;
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (curl_easy_setopt(easy, CURLOPT_URL, url_.c_str()) != CURLE_OK) {
        Fail(TransferError::BadUrl);
        return;
    }
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // Sent as written: "/a/../b" reaches the server unchanged, as the Windows stacks send it.
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     outgoing.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    // The proxy is decided here, never by libcurl's reading of the environment: an empty one
    // is a direct connection, and an empty no-proxy list keeps a given proxy in use for
    // loopback hosts too (the system's proxy has already left them out).
    std::string proxy = outgoing.proxy;
    if (proxy.empty() && outgoing.systemProxy)
        proxy = SystemProxyFor(url_);
    else if (!proxy.empty() && proxy.find("://") == std::string::npos)
        proxy = "http://" + proxy;
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!outgoing.userAgent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, outgoing.userAgent.c_str());
    if (!outgoing.verifyPeer) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (timeouts_.resolveMs > 0 && timeouts_.connectMs > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(timeouts_.resolveMs) + timeouts_.connectMs);

    // Header lines: the caller's, then removals of the lines libcurl would add on its own.
    for (const std::string& line : outgoing.headers) {
        const std::string_view name = NameOf(line);
        if (name.empty() || line.find_first_of("\r\n") != std::string::npos)
            continue; // not a header line, or one that would smuggle in another
        std::string entry = line;
        // libcurl reads "Name:" as "remove Name"; "Name;" sends it with an empty value.
        if (TrimBlanks(std::string_view(line).substr(line.find(':') + 1)).empty())
            entry = std::string(name) + ";";
        curl_->headers = curl_slist_append(curl_->headers, entry.c_str());
    }
    for (const char* automatic : {"Accept", "Content-Type", "Expect"}) {
        if (!HasHeader(outgoing.headers, automatic))
            curl_->headers =
                curl_slist_append(curl_->headers, (std::string(automatic) + ":").c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, curl_->headers);

    const std::string method = text::ToLowerAscii(outgoing.method);
    if (method == "head") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "post" || !body_.empty()) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body_.data());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    if (method != "get" && method != "post" && method != "head")
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, outgoing.method.c_str());

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (curl_multi_add_handle(curl_->multi, easy) != CURLM_OK) {
        Fail(TransferError::Other);
        return;
    }
    Enlist();
}

// Last in the constructor: StopAllTransfers() may wake the multi handle from then on. The
// check of the stop and the enlisting are one step, so no transfer slips between them.
void Transfer::Enlist() {
    LiveTransfers& live = Live();
    const std::lock_guard lock(live.mutex);
    if (live.stopped)
        cancelled_ = true;
    live.transfers.insert(this);
}

Transfer::~Transfer() {
    {
        // Before the handles go, and not under wakeMutex_: StopAllTransfers() takes that one
        // while it holds the list.
        LiveTransfers& live = Live();
        const std::lock_guard lock(live.mutex);
        live.transfers.erase(this);
    }
    const std::lock_guard lock(wakeMutex_);
    if (curl_->multi && curl_->easy)
        curl_multi_remove_handle(curl_->multi, curl_->easy);
    if (curl_->easy)
        curl_easy_cleanup(curl_->easy);
    if (curl_->multi)
        curl_multi_cleanup(curl_->multi);
    curl_slist_free_all(curl_->headers);
    curl_->multi = nullptr;
}

void Transfer::Cancel() {
    cancelled_ = true;
    const std::lock_guard lock(wakeMutex_);
    if (curl_->multi)
        curl_multi_wakeup(curl_->multi);
}

void Transfer::Fail(TransferError error) {
    if (error_ == TransferError::None)
        error_ = error;
    finished_ = true;
}

template <class Done> bool Transfer::Drive(Done done) {
    if (!started_) {
        started_ = true;
        start_ = lastActivity_ = Clock::now();
    }
    for (;;) {
        if (done())
            return true;
        if (finished_)
            return false;
        if (cancelled_) {
            Fail(TransferError::Cancelled);
            return false;
        }
        int running = 0;
        if (curl_multi_perform(curl_->multi, &running) != CURLM_OK) {
            Fail(TransferError::Other);
            return false;
        }
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(curl_->multi, &left)) {
            if (message->msg == CURLMSG_DONE) {
                finished_ = true;
                curl_off_t connectUs = 0;
                curl_easy_getinfo(curl_->easy, CURLINFO_CONNECT_TIME_T, &connectUs);
                // Once connected, an "unsupported protocol" is a reply that is not HTTP.
                if (message->data.result == CURLE_UNSUPPORTED_PROTOCOL && connectUs > 0)
                    Fail(TransferError::Receive);
                else if (message->data.result != CURLE_OK)
                    Fail(ErrorOf(message->data.result));
            }
        }
        if (done() || finished_)
            continue;
        const Clock::time_point now = Clock::now();
        if (PhaseTimedOut(now)) {
            Fail(TransferError::Timeout);
            return false;
        }
        curl_multi_poll(curl_->multi, nullptr, 0, kMaxPollMs, nullptr);
    }
}

bool Transfer::PhaseTimedOut(Clock::time_point now) {
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    curl_off_t lookupUs = 0;
    curl_off_t connectUs = 0;
    curl_off_t uploaded = 0;
    curl_easy_getinfo(curl_->easy, CURLINFO_NAMELOOKUP_TIME_T, &lookupUs);
    curl_easy_getinfo(curl_->easy, CURLINFO_CONNECT_TIME_T, &connectUs);
    curl_easy_getinfo(curl_->easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    const auto elapsed = now - start_;

    if (connectUs == 0) {
        // An address literal has no lookup to wait for: its whole wait is the connect.
        if (lookupUs == 0 && timeouts_.resolveMs > 0 &&
            elapsed >= milliseconds(timeouts_.resolveMs))
            return true;
        return timeouts_.connectMs > 0 &&
               elapsed - microseconds(lookupUs) >= milliseconds(timeouts_.connectMs);
    }

    const std::uint64_t moved = seenBytes_ + static_cast<std::uint64_t>(uploaded);
    if (moved != lastMoved_ || !connected_) {
        connected_ = true;
        lastMoved_ = moved;
        lastActivity_ = now;
    }
    const bool sending = static_cast<std::size_t>(uploaded) < body_.size();
    const int limit = sending ? timeouts_.sendMs : timeouts_.receiveMs;
    return limit > 0 && now - lastActivity_ >= milliseconds(limit);
}

std::size_t Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    const std::size_t bytes = size * count;
    const std::string_view line = TrimLineEnd(std::string_view(data, bytes));
    transfer->seenBytes_ += bytes;
    if (line.starts_with("HTTP/")) {
        // A new response: an interim 1xx block is replaced by the one that follows it.
        transfer->headerBlock_.clear();
        transfer->status_ = 0;
        const std::size_t blank = line.find(' ');
        if (blank != std::string_view::npos) {
            for (const char c : line.substr(blank + 1, 3)) {
                if (c < '0' || c > '9')
                    break;
                transfer->status_ = transfer->status_ * 10 + (c - '0');
            }
        }
    }
    if (transfer->headerBlock_.size() + line.size() > kMaxHeaderBlock)
        return 0; // libcurl then ends the transfer with a write error
    transfer->headerBlock_.append(line);
    transfer->headerBlock_.append("\r\n");
    if (line.empty() && transfer->status_ >= 200)
        transfer->headersDone_ = true;
    return bytes;
}

std::size_t Transfer::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    const std::size_t bytes = size * count;
    transfer->seenBytes_ += bytes;
    transfer->headersDone_ = true;
    transfer->pending_.append(data, bytes);
    return bytes;
}

bool Transfer::AwaitHeaders() {
    return Drive([this] { return headersDone_; });
}

std::size_t Transfer::Read(std::uint8_t* out, std::size_t size) {
    if (size == 0 || !Drive([this] { return pendingRead_ < pending_.size(); }))
        return 0;
    const std::size_t n = std::min(size, pending_.size() - pendingRead_);
    std::memcpy(out, pending_.data() + pendingRead_, n);
    pendingRead_ += n;
    if (pendingRead_ == pending_.size()) {
        pending_.clear();
        pendingRead_ = 0;
    }
    return n;
}

bool Transfer::ReadAll(std::string& body) {
    Drive([] { return false; });
    body.append(pending_, pendingRead_);
    pending_.clear();
    pendingRead_ = 0;
    return error_ == TransferError::None;
}

std::string Transfer::StatusText() const {
    const std::string_view line =
        TrimLineEnd(std::string_view(headerBlock_).substr(0, headerBlock_.find('\n')));
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return {};
    const std::size_t second = line.find(' ', first + 1);
    return second == std::string_view::npos ? std::string() : std::string(line.substr(second + 1));
}

std::string Transfer::RedirectUrl() const {
    if (!curl_->easy || status_ < 300 || status_ > 399)
        return {};
    char* location = nullptr;
    curl_easy_getinfo(curl_->easy, CURLINFO_REDIRECT_URL, &location);
    return location ? std::string(location) : std::string();
}

Exchange::Exchange(OutgoingRequest outgoing, RedirectPolicy policy, CookieStore* cookies)
    : outgoing_(std::move(outgoing)), policy_(policy), cookies_(cookies) {}

Exchange::~Exchange() = default;

std::shared_ptr<Transfer> Exchange::StartHop() {
    OutgoingRequest hop = outgoing_;
    if (cookies_ && !HasHeader(hop.headers, "Cookie")) {
        const std::string cookie = cookies_->CookieHeaderFor(hop.url);
        if (!cookie.empty())
            hop.headers.push_back("Cookie: " + cookie);
    }
    auto transfer = std::make_shared<Transfer>(hop);
    const std::lock_guard lock(mutex_);
    if (cancelled_)
        transfer->Cancel();
    current_ = transfer;
    return transfer;
}

bool Exchange::AwaitHeaders() {
    for (int hops = 0;; ++hops) {
        const std::shared_ptr<Transfer> transfer = StartHop();
        if (!transfer->AwaitHeaders()) {
            error_ = transfer->Error();
            return false;
        }
        if (cookies_) {
            for (const std::string& line : HeaderLines(transfer->HeaderBlock())) {
                if (text::EqualsNoCase(NameOf(line), "Set-Cookie"))
                    cookies_->Set(transfer->Url(), TrimBlanks(line.substr(line.find(':') + 1)));
            }
        }
        const int status = transfer->Status();
        const bool redirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        const std::string next = transfer->RedirectUrl();
        if (!policy_.follow || !redirect || next.empty())
            return true;
        const bool fromSecure = IsSecure(outgoing_.url);
        const bool toSecure = IsSecure(next);
        if ((fromSecure && !toSecure && !policy_.httpsToHttp) ||
            (!fromSecure && toSecure && !policy_.httpToHttps))
            return true; // the redirect response itself is the answer
        if (hops >= policy_.maxRedirects) {
            error_ = TransferError::TooManyRedirects;
            return false;
        }
        // 303 always, and 301/302 after a POST, go on as a GET without the body.
        const std::string method = text::ToLowerAscii(outgoing_.method);
        if ((status == 303 && method != "head") ||
            ((status == 301 || status == 302) && method == "post")) {
            outgoing_.method = "GET";
            outgoing_.body.clear();
            std::erase_if(outgoing_.headers, [](const std::string& line) {
                return text::EqualsNoCase(NameOf(line), "Content-Type") ||
                       text::EqualsNoCase(NameOf(line), "Content-Length");
            });
        }
        outgoing_.url = next;
    }
}

std::size_t Exchange::Read(std::uint8_t* out, std::size_t size) {
    return current_ ? current_->Read(out, size) : 0;
}

bool Exchange::ReadAll(std::string& body) {
    if (!current_)
        return false;
    const bool ok = current_->ReadAll(body);
    if (!ok)
        error_ = current_->Error();
    return ok;
}

void Exchange::Cancel() {
    std::shared_ptr<Transfer> transfer;
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        transfer = current_;
    }
    if (transfer)
        transfer->Cancel();
}

std::string EscapeUrlBytes(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", c)) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> HeaderLines(std::string_view block) {
    std::vector<std::string> lines;
    while (!block.empty()) {
        const std::size_t end = block.find('\n');
        const std::string_view line = TrimLineEnd(block.substr(0, end));
        if (!line.empty())
            lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        block.remove_prefix(end + 1);
    }
    return lines;
}

std::string HeaderValue(std::string_view block, std::string_view name) {
    for (const std::string& line : HeaderLines(block)) {
        if (text::EqualsNoCase(NameOf(line), name))
            return std::string(TrimBlanks(std::string_view(line).substr(line.find(':') + 1)));
    }
    return {};
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
    return std::any_of(lines.begin(), lines.end(), [name](const std::string& line) {
        return text::EqualsNoCase(NameOf(line), name);
    });
}

} // namespace vm::http
