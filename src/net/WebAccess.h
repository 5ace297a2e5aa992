#pragma once
// One HTTP request on a worker thread through the session interface, while the calling thread
// keeps dispatching its messages; gives up at a deadline with a fixed message text.
//
// Texts are GBK; byte arrays (bodies) are byte strings. Out parameters are pointers to the
// caller's variables, written only when given.

#include <string>
#include <string_view>

namespace vm::net {

struct WebAccessArgs {
    int method = 0;                  // 1: POST; anything else: GET
    std::string_view proxy{};        // "host:port" of an HTTP proxy; empty: direct
    std::string_view extraHeaders{}; // header lines, each ending in CR LF
    std::string_view postBytes{};
    std::string_view cookies{};             // sent as one Cookie line
    int timeoutSeconds = 60;                // deadline for the whole request
    std::string* responseHeaders = nullptr; // out: the raw response headers
    int decodeMode = 0;                     // 1: body is UTF-8; 2: body is Big5; else raw
    std::string* newCookies = nullptr;      // out: "name=value;" of each Set-Cookie line
    bool allowRedirect = true;
};

// The body (converted per decodeMode), the timeout message at the deadline, or empty. `url` gets
// "http://" in front when it starts with neither "http://" nor "https://" (exact case).
std::string WebAccess(std::string& url, const WebAccessArgs& args = {});

// The result at the deadline; never converted.
const std::string& WebAccessTimeoutMessage();

} // namespace vm::net
