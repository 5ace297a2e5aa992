#pragma once
// The session-style HTTP interface the web-access routine drives: an internet handle (agent and
// proxy), a connection handle (server and port), request handles (verb, object, flags), sending,
// reading the body in blocks and querying the raw headers. Over the curl engine; the cookie store
// is the process's store (CookieStore::Global()).
//
// Handles are numbers (0: none) that any thread may close. Closing a handle also closes every
// handle opened from it, and a call blocked on any of them in another thread returns within
// microseconds with ERROR_INTERNET_OPERATION_CANCELLED: that is how a caller abandons a request
// without waiting for the network.
//
// Texts are passed through as bytes (GBK where the logic wrote them). Failures return 0 or false
// and leave their code for InternetLastError() on the calling thread.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vm::http {

using HInternet = std::uint64_t;

enum : std::uint32_t {
    INTERNET_OPEN_TYPE_PRECONFIG = 0, // the system's proxy (SystemProxy.h)
    INTERNET_OPEN_TYPE_DIRECT = 1,
    INTERNET_OPEN_TYPE_PROXY = 3,

    INTERNET_SERVICE_HTTP = 3,
    INTERNET_INVALID_PORT_NUMBER = 0, // the scheme's own port

    INTERNET_FLAG_NEED_FILE = 0x10,
    INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x4000,
    INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x8000,
    INTERNET_FLAG_NO_COOKIES = 0x80000,
    INTERNET_FLAG_NO_AUTO_REDIRECT = 0x200000,
    INTERNET_FLAG_SECURE = 0x800000,
    INTERNET_FLAG_RELOAD = 0x80000000,

    HTTP_QUERY_STATUS_CODE = 19,
    HTTP_QUERY_RAW_HEADERS_CRLF = 22,
    HTTP_QUERY_FLAG_NUMBER = 0x20000000,
};

enum : std::uint32_t {
    ERROR_INVALID_HANDLE = 6,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_INSUFFICIENT_BUFFER = 122,
    ERROR_INTERNET_TIMEOUT = 12002,
    ERROR_INTERNET_INTERNAL_ERROR = 12004,
    ERROR_INTERNET_INVALID_URL = 12005,
    ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
    ERROR_INTERNET_OPERATION_CANCELLED = 12017,
    ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018,
    ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019,
    ERROR_INTERNET_CANNOT_CONNECT = 12029,
    ERROR_INTERNET_CONNECTION_ABORTED = 12030,
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157,
    ERROR_HTTP_HEADER_NOT_FOUND = 12150,
    ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152,
    ERROR_HTTP_REDIRECT_FAILED = 12156,
};

// `proxy` with INTERNET_OPEN_TYPE_PROXY: "host:port" for every scheme, or entries
// "http=host:port" / "https=host:port" separated by blanks or ";" for one scheme each.
HInternet InternetOpen(std::string_view agent, std::uint32_t accessType, std::string_view proxy,
                       std::string_view proxyBypass, std::uint32_t flags);

HInternet InternetConnect(HInternet internet, std::string_view server, int port,
                          std::string_view user, std::string_view password, std::uint32_t service,
                          std::uint32_t flags, std::uintptr_t context);

// An empty verb is "GET", an empty object "/", an empty version "HTTP/1.1"; a non-empty referrer
// and accept types become Referer and Accept lines.
HInternet HttpOpenRequest(HInternet connection, std::string_view verb, std::string_view object,
                          std::string_view version, std::string_view referrer,
                          std::span<const std::string> acceptTypes, std::uint32_t flags,
                          std::uintptr_t context);

// Sends the request and waits for the response's headers. `headers` holds lines separated by
// CR LF; empty lines and lines without a colon are skipped. Redirects are followed unless the
// request has INTERNET_FLAG_NO_AUTO_REDIRECT; without INTERNET_FLAG_NO_COOKIES the process's
// cookie store supplies a Cookie line and receives every Set-Cookie.
bool HttpSendRequest(HInternet request, std::string_view headers, std::string_view optional);

// Up to `toRead` body bytes into `buffer`, waiting until some arrive. True with *read 0 at the
// end of the body.
bool InternetReadFile(HInternet request, void* buffer, std::uint32_t toRead, std::uint32_t* read);

// HTTP_QUERY_RAW_HEADERS_CRLF: status line, header lines and a blank line, zero-terminated.
// When the buffer is too small: false, ERROR_INSUFFICIENT_BUFFER, *length = bytes needed
// (terminator included) and the buffer untouched. On success *length = the text's length.
// HTTP_QUERY_STATUS_CODE: as text, or as a 32-bit number with HTTP_QUERY_FLAG_NUMBER.
bool HttpQueryInfo(HInternet request, std::uint32_t infoLevel, void* buffer, std::uint32_t* length,
                   std::uint32_t* index);

bool InternetCloseHandle(HInternet handle);

// The failure code of the last call above on this thread.
std::uint32_t InternetLastError();

} // namespace vm::http
