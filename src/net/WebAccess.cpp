#include "net/WebAccess.h"

#include "net/UrlText.h"
#include "platform/http/CookieStore.h"
#include "platform/http/Internet.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"
#include "sys/Encoding.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <vector>

namespace vm::net {
namespace {

constexpr std::size_t kSlotCount = 7;
enum Slot : std::size_t {
    kUrlOrBody = 0,
    kMethodOrCookiesSet = 1,
    kProxy = 2,
    kHeaders = 3,
    kPostBytes = 4,
    kCookiesOrResponseHeaders = 5,
    kRedirect = 6,
};

constexpr char kRedirectOn[] = "真";
constexpr char kRedirectOff[] = "假";
constexpr char kDefaultAgent[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727; .NET CLR "
    "3.0.04506.648; .NET CLR 3.5.21022)";
constexpr char kAcceptLine[] =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
constexpr std::uint32_t kBlockSize = 2048;
constexpr std::uint32_t kHeaderBufferSize = 2048;
// How long a caller that gave up waits for the cancelled worker to end. Cancelling takes well
// under a millisecond; this only bounds a worker stuck where no cancellation reaches.
constexpr int kCancelGraceMs = 50;

// The buffer caller and worker share. The caller reads the slots only after the worker ended;
// after a timeout it never reads them, so a late worker writes into this record alone.
struct Exchange {
    std::mutex mutex;
    std::vector<std::string> slots;
    bool cancelled = false;
    http::HInternet internet = 0; // what the caller closes to cancel the worker
    std::atomic<bool> finished = false;
};

std::string Prefixed(const std::string& url) {
    if (url.starts_with("http://") || url.starts_with("https://"))
        return url;
    return "http://" + url;
}

// Texts end at their first zero byte, as the conversions read them.
std::string_view AsText(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::string Utf8ToGbk(std::string_view utf8) {
    return sys::Utf8ToGbk(AsText(utf8));
}

std::string Big5ToSimplifiedGbk(std::string_view big5) {
    return sys::Big5ToSimplifiedGbk(AsText(big5));
}

// Drops the first `count` characters (a double-byte character counts once).
std::string DropChars(const std::string& line, int count) {
    std::size_t at = 0;
    for (int i = 0; i < count && at < line.size(); ++i)
        at += text::CharLengthAt(line, at);
    return line.substr(at);
}

std::string RemoveFirst(const std::string& text, std::string_view what) {
    const int at = text::Find(text, what, 1, true);
    if (at < 0)
        return text;
    return text.substr(0, static_cast<std::size_t>(at - 1)) +
           text.substr(static_cast<std::size_t>(at - 1) + what.size());
}

void CompleteHeaders(std::string& headers, const std::string& url) {
    if (!text::Contains(headers, "Accept"))
        headers += kAcceptLine;
    if (text::Contains(headers, "RefererNo"))
        headers = RemoveFirst(headers, "RefererNo");
    else if (!text::Contains(headers, "Referer"))
        headers += "Referer: " + url + "\r\n";
    if (!text::Contains(headers, "Accept-Language"))
        headers += "Accept-Language: zh-cn\r\n";
}

// Pairs of the Set-Cookie lines, each followed by ";", each also put into the cookie store.
std::string CollectCookies(const std::string& headerText, const std::string& host) {
    std::string collected;
    if (!text::Contains(headerText, "Set-Cookie: "))
        return collected;
    for (const std::string& raw : text::Split(headerText, "\r\n")) {
        if (!text::Contains(raw, "Set-Cookie: "))
            continue;
        const std::string line = DropChars(raw, 12);
        collected += TextBefore(line, ";") + ";";
        // A line without "=" names no cookie, so nothing is stored for it.
        const int equals = text::Find(line, "=", 1, true);
        if (equals > 0)
            http::InternetSetCookie(
                "http://" + host, std::string_view(line).substr(0, equals - 1),
                std::string_view(line).substr(static_cast<std::size_t>(equals)));
    }
    return collected;
}

void WriteBack(Exchange& exchange, std::vector<std::string> slots) {
    {
        const std::lock_guard lock(exchange.mutex);
        exchange.slots = std::move(slots);
    }
    exchange.finished = true;
}

// A failed open step: no body and no redirect switch. The method text and the request's cookies
// would otherwise come back as the response's cookies and headers, so they are emptied too.
void FailOpen(Exchange& exchange, std::vector<std::string> slots) {
    slots[kUrlOrBody].clear();
    slots[kRedirect].clear();
    slots[kMethodOrCookiesSet].clear();
    slots[kCookiesOrResponseHeaders].clear();
    WriteBack(exchange, std::move(slots));
}

void WebAccessWorker(const std::shared_ptr<Exchange>& exchange) {
    std::vector<std::string> slots;
    {
        const std::lock_guard lock(exchange->mutex);
        slots = exchange->slots;
    }
    slots.resize(kSlotCount);
    const std::string url = slots[kUrlOrBody];
    const std::string method = slots[kMethodOrCookiesSet];
    const std::string proxy = slots[kProxy];
    std::string headers = slots[kHeaders];
    const std::string post = slots[kPostBytes];
    const std::string cookies = slots[kCookiesOrResponseHeaders];
    const bool redirect = slots[kRedirect] == kRedirectOn;

    const bool secure = text::Contains(text::ToLowerAscii(url), "https://");
    const std::string host = UrlHostName(url);
    const std::string object = UrlObjectPath(url);
    const std::string agent = text::Contains(headers, "User-Agent:")
                                  ? text::Trim(CutBetween(headers, "User-Agent:", "\r\n"))
                                  : std::string(kDefaultAgent);

    const http::HInternet internet =
        proxy.empty()
            ? http::InternetOpen(agent, http::INTERNET_OPEN_TYPE_DIRECT, "", "", 0)
            : http::InternetOpen(agent, http::INTERNET_OPEN_TYPE_PROXY, "http=" + proxy, "", 0);
    if (!internet)
        return FailOpen(*exchange, std::move(slots));
    {
        const std::lock_guard lock(exchange->mutex);
        exchange->internet = internet;
        if (exchange->cancelled) {
            http::InternetCloseHandle(internet);
            return;
        }
    }
    // Handles are closed on the failure paths too: they would otherwise stay for the life of
    // the process.
    const int port = secure ? 443 : UrlPort(url);
    const http::HInternet connection =
        http::InternetConnect(internet, host, port, "", "", http::INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection) {
        http::InternetCloseHandle(internet);
        return FailOpen(*exchange, std::move(slots));
    }
    std::uint32_t flags = http::INTERNET_FLAG_RELOAD | http::INTERNET_FLAG_NEED_FILE;
    if (!text::Trim(cookies).empty())
        flags |= http::INTERNET_FLAG_NO_COOKIES;
    if (!redirect)
        flags |= http::INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (secure)
        flags = http::INTERNET_FLAG_SECURE;
    else
        flags |= http::INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
    const http::HInternet request =
        http::HttpOpenRequest(connection, method, object, "HTTP/1.1", "", {}, flags, 0);
    if (!request) {
        http::InternetCloseHandle(internet);
        return FailOpen(*exchange, std::move(slots));
    }

    CompleteHeaders(headers, url);
    const std::string cookieLine = cookies.empty() ? "" : "Cookie: " + cookies + "\r\n\r\n";
    if (method == "GET") {
        headers += cookieLine;
        http::HttpSendRequest(request, headers, "");
    } else if (method == "POST") {
        if (!post.empty()) {
            if (!text::Contains(headers, "Content-Type"))
                headers += "Content-Type: application/x-www-form-urlencoded\r\n";
            if (!text::Contains(headers, "Content-Length"))
                headers += "Content-Length: " + std::to_string(post.size()) + "\r\n";
        }
        headers += cookieLine;
        http::HttpSendRequest(request, headers, post);
    }

    std::string body;
    char block[kBlockSize];
    std::uint32_t n = 0;
    while (http::InternetReadFile(request, block, kBlockSize, &n) && n > 0)
        body.append(block, n);

    // A header text that does not fit leaves the buffer as it was: blanks.
    std::string headerText(kHeaderBufferSize, ' ');
    std::uint32_t length = kHeaderBufferSize;
    if (http::HttpQueryInfo(request, http::HTTP_QUERY_RAW_HEADERS_CRLF, headerText.data(), &length,
                            nullptr))
        headerText.resize(length);
    http::InternetCloseHandle(request);
    http::InternetCloseHandle(connection);
    http::InternetCloseHandle(internet);

    slots[kUrlOrBody] = std::move(body);
    slots[kMethodOrCookiesSet] = CollectCookies(headerText, host);
    slots[kCookiesOrResponseHeaders] = std::move(headerText);
    WriteBack(*exchange, std::move(slots));
}

// Closes the worker's session so that whatever it waits for returns at once.
void Cancel(Exchange& exchange) {
    http::HInternet internet = 0;
    {
        const std::lock_guard lock(exchange.mutex);
        exchange.cancelled = true;
        internet = exchange.internet;
    }
    if (internet)
        http::InternetCloseHandle(internet);
}

} // namespace

const std::string& WebAccessTimeoutMessage() {
    static const std::string message =
        "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置长"
        "一些。";
    return message;
}

std::string WebAccess(std::string& url, const WebAccessArgs& args) {
    if (text::Trim(url).empty())
        return {};
    url = Prefixed(url);

    auto exchange = std::make_shared<Exchange>();
    exchange->slots = {url,
                       args.method == 1 ? "POST" : "GET",
                       std::string(args.proxy),
                       std::string(args.extraHeaders),
                       std::string(args.postBytes),
                       std::string(args.cookies),
                       args.allowRedirect ? kRedirectOn : kRedirectOff};

    kernel::Thread worker = kernel::StartThread([exchange] { WebAccessWorker(exchange); });
    if (!worker)
        return {};
    const std::uint32_t start = kernel::TickCount();
    const long long deadline = static_cast<long long>(args.timeoutSeconds) * 1000;

    const bool ended =
        kernel::WaitDispatching(static_cast<int>(std::clamp<long long>(deadline, 0, INT_MAX)),
                                [&] { return exchange->finished.load(); });
    // A worker that ended just after the deadline still counts as too late.
    const bool timedOut = !ended || static_cast<long long>(kernel::TickCount() - start) >= deadline;
    if (timedOut) {
        Cancel(*exchange);
        if (worker.Wait(kCancelGraceMs))
            worker.Join();
        else
            worker.Detach();
        return WebAccessTimeoutMessage();
    }
    worker.Join();

    std::vector<std::string> slots;
    {
        const std::lock_guard lock(exchange->mutex);
        slots = std::move(exchange->slots);
    }
    if (slots.size() != kSlotCount)
        return slots.empty() ? std::string() : slots[kUrlOrBody];
    if (args.responseHeaders)
        *args.responseHeaders = slots[kCookiesOrResponseHeaders];
    if (args.newCookies)
        *args.newCookies = slots[kMethodOrCookiesSet];
    switch (args.decodeMode) {
    case 1:
        return Utf8ToGbk(slots[kUrlOrBody]);
    case 2:
        return Big5ToSimplifiedGbk(slots[kUrlOrBody]);
    default:
        return slots[kUrlOrBody];
    }
}

} // namespace vm::net
