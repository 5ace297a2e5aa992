#pragma once
// The process's cookie store, standing in for the system store that the Windows HTTP services
// and the browser control share. It lives in memory for the life of the process: cookies are
// never written to disk, whatever their expiry date.
//
// Texts are byte strings passed through unchanged (GBK where the logic wrote them); only the
// URL's scheme and host are interpreted.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm::http {

struct Cookie {
    std::string name;
    std::string value;
    std::string domain;                 // lower case, without a leading "."
    std::string path;                   // starts with "/"
    bool hostOnly = true;               // only the exact host, not its sub-domains
    bool secure = false;                // only sent to https addresses
    std::optional<std::time_t> expires; // none: a session cookie
};

class CookieStore {
public:
    // The store that every request and the browser share.
    static CookieStore& Global();

    // Stores a cookie received from `url`. `text` is a Set-Cookie value ("name=value; Path=/;
    // Domain=...; Expires=...; Max-Age=...; Secure"). An expiry in the past removes the cookie.
    // False when the URL is not an http or https address with a host, when the text holds no
    // cookie, or when its domain does not cover the URL's host.
    bool Set(std::string_view url, std::string_view text);

    // "name=value; name2=value2" of the cookies to send to `url` (longer paths first, then
    // oldest first); "" when none.
    std::string CookieHeaderFor(std::string_view url);

    std::vector<Cookie> All();
    void Clear();

private:
    std::mutex mutex_;
    std::vector<Cookie> cookies_; // in order of creation
};

// InternetSetCookieA: with a name, `data` is the value (optionally followed by "; attributes");
// without one, `data` is a whole "name=value; attributes" text.
bool InternetSetCookie(std::string_view url, std::string_view name, std::string_view data);

// InternetGetCookieA into a buffer of `bufferSize` bytes: the cookie text for `url`, or nullopt
// when there is none or when the text and its terminating zero do not fit. As on Windows, no
// cookie name can be asked for: the text holds them all.
std::optional<std::string> InternetGetCookie(std::string_view url, std::size_t bufferSize);

} // namespace vm::http
