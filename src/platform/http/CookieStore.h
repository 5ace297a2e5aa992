#pragma once
// The process's cookie store, standing in for the system store that the Windows HTTP services
// and the browser control share. Session cookies live as long as the process; once KeepIn()
// names a file, cookies with an expiry are also kept there across runs. The embedded browsers
// meet the same store through a listener (platform/gui/qt/QtCookieBridge.cpp).
//
// Texts are byte strings passed through unchanged (GBK where the logic wrote them); only the
// URL's scheme and host are interpreted.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
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
    bool httpOnly = false;              // kept for the browsers, which hide it from scripts
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
    // Forgets every cookie, the kept ones included.
    void Clear();

    // A cookie the browser already parsed and accepted: stored as given (its domain must be one
    // a site may set, as for Set()) and, being the browser's own, not reported back to it. An
    // expiry in the past removes it. False when it is refused.
    bool Insert(Cookie cookie);
    // Removes the cookie of that name, domain and path while it holds that value, again
    // without reporting it back.
    void Remove(const Cookie& cookie);

    // Called after each change that did not come from Insert() or Remove(), on the thread that
    // made it, outside the store's lock; `removed` says whether the cookie went away.
    using Listener = std::function<void(const Cookie& cookie, bool removed)>;
    void SetListener(Listener listener);

    // Keeps the cookies with an expiry in the file `windowsPath` (a GBK path text) from now
    // on: reads what an earlier run left there (a damaged or oversized file is set aside as
    // the same name + ".damaged", and the store goes on without it), then rewrites the file
    // after every change to a kept cookie, through a temporary file that replaces it whole.
    // Returns the number of cookies read. An empty path keeps nothing from then on.
    std::size_t KeepIn(std::string_view windowsPath);

    // Limits, as RFC 6265 asks at least: per cookie (name and value), per domain, in all.
    static constexpr std::size_t kMaxCookieBytes = 4096;
    static constexpr std::size_t kMaxPerDomain = 50;
    static constexpr std::size_t kMaxCookies = 3000;
    static constexpr std::size_t kMaxFileBytes = 4 << 20;

private:
    enum class Origin { Site, Browser, File };
    struct Change {
        Cookie cookie;
        bool removed;
    };
    // Stores or removes (when expired) `cookie`; the caller holds the lock.
    void Put(Cookie cookie, std::time_t now, std::vector<Change>& changes, bool& keptChanged);
    void Report(const std::vector<Change>& changes);
    void SaveLocked();

    std::mutex mutex_;
    std::vector<Cookie> cookies_; // in order of creation
    std::string path_;            // where kept cookies go; empty: nowhere
    Listener listener_;
};

// The domain `domain` (lower case, without a leading ".") may be set as a cookie's domain by
// `host`: it is the host or a parent of it, not a public suffix, and the host is a name, not
// an address (an address can only set host-only cookies).
bool AcceptableCookieDomain(std::string_view host, std::string_view domain);

// InternetSetCookieA: with a name, `data` is the value (optionally followed by "; attributes");
// without one, `data` is a whole "name=value; attributes" text.
bool InternetSetCookie(std::string_view url, std::string_view name, std::string_view data);

// InternetGetCookieA into a buffer of `bufferSize` bytes: the cookie text for `url`, or nullopt
// when there is none or when the text and its terminating zero do not fit. As on Windows, no
// cookie name can be asked for: the text holds them all.
std::optional<std::string> InternetGetCookie(std::string_view url, std::size_t bufferSize);

} // namespace vm::http
