#pragma once
// One HTTP request through the scripting request object "WinHttp.WinHttpRequest.5.1", on the
// calling thread, with the caller's cookie text kept in step with the process's cookie store.
//
// Texts are GBK; byte arrays (bodies) are byte strings. In/out and out parameters are pointers
// to the caller's variables; a null pointer is an omitted parameter (an empty text).

#include <string>
#include <string_view>

namespace vm::net {

struct WinHttpFetchArgs {
    std::string* method = nullptr;         // in/out: upper-cased in place; empty becomes "GET"
    std::string_view postText{};           // body when postBytes is empty
    std::string* cookies = nullptr;        // in/out: cookies to send; the merged text on return
    std::string* newCookies = nullptr;     // out: the pairs this response set
    std::string* extraHeaders = nullptr;   // in/out: header lines; empty: the default block
    std::string* redirectTarget = nullptr; // out: the Location value, else all headers
    bool noRedirect = false;
    int timeoutSeconds = 0; // -1 keeps the object's own limits; 0 or less: 15 seconds
    std::string* responseHeaders = nullptr; // out
    std::string_view postBytes{};           // body as raw bytes; wins over postText
};

// The response body; empty when the object cannot be created or the request fails.
std::string WinHttpFetch(std::string_view url, const WinHttpFetchArgs& args = {});

// The header block used when the caller gives none.
std::string DefaultFetchHeaders(std::string_view url);

} // namespace vm::net
