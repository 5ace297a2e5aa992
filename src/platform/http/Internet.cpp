#include "platform/http/Internet.h"

#include "platform/http/CookieStore.h"
#include "platform/http/Transfer.h"
#include "platform/text/Gbk.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace vm::http {
namespace {

thread_local std::uint32_t t_lastError = 0;

// Per-phase limits of a session. The caller's own deadline usually ends a request first.
constexpr Timeouts kSessionTimeouts{0, 60000, 60000, 60000};
constexpr int kMaxRedirects = 10;

enum class Kind { Internet, Connection, Request };

struct Handle {
    Kind kind;
    std::shared_ptr<Handle> parent;
    std::atomic<bool> closed = false;

    // Internet
    std::string agent;
    std::string httpProxy;
    std::string httpsProxy;
    bool systemProxy = false;
    // Connection
    std::string server;
    int port = 0;
    // Request
    std::string verb;
    std::string object;
    std::string version;
    std::vector<std::string> fixedHeaders; // Referer and Accept from the open call
    std::uint32_t flags = 0;

    std::mutex mutex; // guards `exchange` between the owner and a closing thread
    std::shared_ptr<Exchange> exchange;

    explicit Handle(Kind k, std::shared_ptr<Handle> p = nullptr) : kind(k), parent(std::move(p)) {}
};

struct Table {
    std::mutex mutex;
    std::unordered_map<HInternet, std::shared_ptr<Handle>> handles;
    HInternet next = 0xCC0004; // never 0, never reused
};

Table& Handles() {
    static Table table;
    return table;
}

bool Fail(std::uint32_t code) {
    t_lastError = code;
    return false;
}

HInternet NoHandle(std::uint32_t code) {
    t_lastError = code;
    return 0;
}

HInternet Add(std::shared_ptr<Handle> handle) {
    Table& table = Handles();
    const std::lock_guard lock(table.mutex);
    const HInternet id = table.next;
    table.next += 4;
    table.handles.emplace(id, std::move(handle));
    t_lastError = 0;
    return id;
}

std::shared_ptr<Handle> Find(HInternet id, Kind kind) {
    std::shared_ptr<Handle> handle;
    {
        Table& table = Handles();
        const std::lock_guard lock(table.mutex);
        const auto it = table.handles.find(id);
        if (it != table.handles.end())
            handle = it->second;
    }
    if (!handle) {
        Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (handle->kind != kind) {
        Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return handle;
}

bool DescendsFrom(const Handle* handle, const Handle* ancestor) {
    for (; handle; handle = handle->parent.get()) {
        if (handle == ancestor)
            return true;
    }
    return false;
}

std::uint32_t CodeOf(TransferError error) {
    switch (error) {
    case TransferError::None:
        return 0;
    case TransferError::BadUrl:
        return ERROR_INTERNET_INVALID_URL;
    case TransferError::Resolve:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case TransferError::Connect:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case TransferError::Timeout:
        return ERROR_INTERNET_TIMEOUT;
    case TransferError::Cancelled:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case TransferError::Send:
    case TransferError::Receive:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case TransferError::Secure:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case TransferError::TooManyRedirects:
        return ERROR_HTTP_REDIRECT_FAILED;
    case TransferError::Other:
        break;
    }
    return ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

void SetProxies(Handle& session, std::string_view list) {
    for (const std::string& piece : text::Split(text::ReplaceAll(list, ";", " "), " ")) {
        const std::string entry = text::Trim(piece);
        if (entry.empty())
            continue;
        const std::string lower = text::ToLowerAscii(entry);
        if (lower.starts_with("http=")) {
            session.httpProxy = entry.substr(5);
        } else if (lower.starts_with("https=")) {
            session.httpsProxy = entry.substr(6);
        } else if (entry.find('=') == std::string::npos) {
            session.httpProxy = session.httpsProxy = entry;
        }
    }
}

std::shared_ptr<Exchange> CurrentExchange(Handle& request) {
    const std::lock_guard lock(request.mutex);
    return request.exchange;
}

} // namespace

HInternet InternetOpen(std::string_view agent, std::uint32_t accessType, std::string_view proxy,
                       std::string_view /*proxyBypass*/, std::uint32_t /*flags*/) {
    auto session = std::make_shared<Handle>(Kind::Internet);
    session->agent = agent;
    if (accessType == INTERNET_OPEN_TYPE_PROXY) {
        SetProxies(*session, proxy);
        if (session->httpProxy.empty() && session->httpsProxy.empty())
            return NoHandle(ERROR_INVALID_PARAMETER);
    } else if (accessType == INTERNET_OPEN_TYPE_PRECONFIG) {
        session->systemProxy = true;
    } else if (accessType != INTERNET_OPEN_TYPE_DIRECT) {
        return NoHandle(ERROR_INVALID_PARAMETER);
    }
    return Add(std::move(session));
}

HInternet InternetConnect(HInternet internet, std::string_view server, int port,
                          std::string_view /*user*/, std::string_view /*password*/,
                          std::uint32_t service, std::uint32_t /*flags*/,
                          std::uintptr_t /*context*/) {
    std::shared_ptr<Handle> session = Find(internet, Kind::Internet);
    if (!session)
        return 0;
    if (service != INTERNET_SERVICE_HTTP || server.empty() || port < 0 || port > 65535)
        return NoHandle(ERROR_INVALID_PARAMETER);
    auto connection = std::make_shared<Handle>(Kind::Connection, std::move(session));
    connection->server = server;
    connection->port = port;
    return Add(std::move(connection));
}

HInternet HttpOpenRequest(HInternet connectionId, std::string_view verb, std::string_view object,
                          std::string_view version, std::string_view referrer,
                          std::span<const std::string> acceptTypes, std::uint32_t flags,
                          std::uintptr_t /*context*/) {
    std::shared_ptr<Handle> connection = Find(connectionId, Kind::Connection);
    if (!connection)
        return 0;
    auto request = std::make_shared<Handle>(Kind::Request, std::move(connection));
    request->verb = verb.empty() ? "GET" : std::string(verb);
    request->object = object.empty() ? "/" : std::string(object);
    if (!request->object.starts_with('/'))
        request->object.insert(0, "/");
    request->version = version.empty() ? "HTTP/1.1" : std::string(version);
    request->flags = flags;
    if (!referrer.empty())
        request->fixedHeaders.push_back("Referer: " + std::string(referrer));
    std::string accept;
    for (const std::string& type : acceptTypes)
        accept += (accept.empty() ? "" : ", ") + type;
    if (!accept.empty())
        request->fixedHeaders.push_back("Accept: " + accept);
    return Add(std::move(request));
}

bool HttpSendRequest(HInternet requestId, std::string_view headers, std::string_view optional) {
    const std::shared_ptr<Handle> request = Find(requestId, Kind::Request);
    if (!request)
        return false;
    const Handle& connection = *request->parent;
    const Handle& session = *connection.parent;
    const bool secure = (request->flags & INTERNET_FLAG_SECURE) != 0;

    OutgoingRequest outgoing;
    outgoing.url = secure ? "https://" : "http://";
    outgoing.url += connection.server;
    if (connection.port != INTERNET_INVALID_PORT_NUMBER)
        outgoing.url += ":" + std::to_string(connection.port);
    outgoing.url += request->object;
    outgoing.method = request->verb;
    outgoing.http10 = text::EqualsNoCase(request->version, "HTTP/1.0");
    outgoing.userAgent = session.agent;
    outgoing.proxy = secure ? session.httpsProxy : session.httpProxy;
    outgoing.systemProxy = session.systemProxy;
    outgoing.timeouts = kSessionTimeouts;
    outgoing.body = optional;
    for (const std::string& line : text::Split(text::ReplaceAll(headers, "\r\n", "\n"), "\n")) {
        if (line.find(':') != std::string::npos && line.find('\r') == std::string::npos)
            outgoing.headers.push_back(line);
    }
    for (const std::string& line : request->fixedHeaders) {
        if (!HasHeader(outgoing.headers, line.substr(0, line.find(':'))))
            outgoing.headers.push_back(line);
    }

    RedirectPolicy policy;
    policy.follow = (request->flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    policy.maxRedirects = kMaxRedirects;
    policy.httpToHttps = (request->flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS) != 0;
    policy.httpsToHttp = (request->flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP) != 0;
    CookieStore* cookies =
        (request->flags & INTERNET_FLAG_NO_COOKIES) ? nullptr : &CookieStore::Global();

    const auto exchange = std::make_shared<Exchange>(std::move(outgoing), policy, cookies);
    {
        const std::lock_guard lock(request->mutex);
        request->exchange = exchange;
    }
    // A close that came before the exchange was published finds nothing to cancel.
    if (request->closed)
        exchange->Cancel();
    if (!exchange->AwaitHeaders())
        return Fail(CodeOf(exchange->Error()));
    t_lastError = 0;
    return true;
}

bool InternetReadFile(HInternet requestId, void* buffer, std::uint32_t toRead,
                      std::uint32_t* read) {
    if (read)
        *read = 0;
    const std::shared_ptr<Handle> request = Find(requestId, Kind::Request);
    if (!request)
        return false;
    if (!read || (!buffer && toRead > 0))
        return Fail(ERROR_INVALID_PARAMETER);
    const std::shared_ptr<Exchange> exchange = CurrentExchange(*request);
    if (!exchange || !exchange->Response())
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const std::size_t n = exchange->Read(static_cast<std::uint8_t*>(buffer), toRead);
    *read = static_cast<std::uint32_t>(n);
    if (n == 0 && toRead > 0 && exchange->Response()->Error() != TransferError::None)
        return Fail(CodeOf(exchange->Response()->Error()));
    t_lastError = 0;
    return true;
}

bool HttpQueryInfo(HInternet requestId, std::uint32_t infoLevel, void* buffer,
                   std::uint32_t* length, std::uint32_t* /*index*/) {
    const std::shared_ptr<Handle> request = Find(requestId, Kind::Request);
    if (!request)
        return false;
    if (!length)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::shared_ptr<Exchange> exchange = CurrentExchange(*request);
    if (!exchange)
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const Transfer* response = exchange->Response();
    if (!response || response->Status() == 0)
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);

    std::string answer;
    switch (infoLevel & 0xFFFF) {
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        answer = response->HeaderBlock();
        break;
    case HTTP_QUERY_STATUS_CODE:
        if (infoLevel & HTTP_QUERY_FLAG_NUMBER) {
            if (*length < sizeof(std::uint32_t) || !buffer) {
                *length = sizeof(std::uint32_t);
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            const auto status = static_cast<std::uint32_t>(response->Status());
            std::memcpy(buffer, &status, sizeof status);
            *length = sizeof status;
            t_lastError = 0;
            return true;
        }
        answer = std::to_string(response->Status());
        break;
    default:
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    }
    const std::size_t needed = answer.size() + 1;
    if (*length < needed || !buffer) {
        *length = static_cast<std::uint32_t>(needed);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, answer.c_str(), needed);
    *length = static_cast<std::uint32_t>(answer.size());
    t_lastError = 0;
    return true;
}

bool InternetCloseHandle(HInternet id) {
    std::vector<std::shared_ptr<Handle>> closing;
    {
        Table& table = Handles();
        const std::lock_guard lock(table.mutex);
        const auto it = table.handles.find(id);
        if (it == table.handles.end())
            return Fail(ERROR_INVALID_HANDLE);
        const Handle* root = it->second.get();
        for (auto at = table.handles.begin(); at != table.handles.end();) {
            if (DescendsFrom(at->second.get(), root)) {
                closing.push_back(std::move(at->second));
                at = table.handles.erase(at);
            } else {
                ++at;
            }
        }
    }
    for (const std::shared_ptr<Handle>& handle : closing) {
        handle->closed = true;
        if (const std::shared_ptr<Exchange> exchange = CurrentExchange(*handle))
            exchange->Cancel();
    }
    t_lastError = 0;
    return true;
}

std::uint32_t InternetLastError() {
    return t_lastError;
}

} // namespace vm::http
