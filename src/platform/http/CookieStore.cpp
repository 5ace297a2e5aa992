#include "platform/http/CookieStore.h"

#include "platform/text/Gbk.h"

#include <algorithm>
#include <charconv>
#include <curl/curl.h>

namespace vm::http {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

struct CookieUrl {
    bool secure = false;
    std::string host;
    std::string path;
};

std::optional<CookieUrl> ParseUrl(std::string_view url) {
    CookieUrl parsed;
    const std::string lower = text::ToLowerAscii(url.substr(0, 8));
    if (lower.starts_with("https://")) {
        parsed.secure = true;
        url.remove_prefix(8);
    } else if (lower.starts_with("http://")) {
        url.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    std::string_view authority = url.substr(0, url.find_first_of("/?#"));
    url.remove_prefix(authority.size());
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (host.starts_with('[')) {
        host = host.substr(0, host.find(']') == std::string_view::npos ? host.size()
                                                                       : host.find(']') + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    if (host.empty())
        return std::nullopt;
    parsed.host = text::ToLowerAscii(host);
    const std::string_view path = url.substr(0, url.find_first_of("?#"));
    parsed.path = path.starts_with('/') ? std::string(path) : "/";
    return parsed;
}

// The folder of the request path, the path a cookie gets when it names none.
std::string DefaultPath(const std::string& requestPath) {
    const std::size_t slash = requestPath.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : requestPath.substr(0, slash);
}

bool DomainMatches(const std::string& host, const std::string& domain) {
    return host == domain || (host.size() > domain.size() && host.ends_with(domain) &&
                              host[host.size() - domain.size() - 1] == '.');
}

bool PathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (!requestPath.starts_with(cookiePath))
        return false;
    return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') ||
           requestPath[cookiePath.size()] == '/';
}

bool IsExpired(const Cookie& cookie, std::time_t now) {
    return cookie.expires && *cookie.expires <= now;
}

// Applies one "key=value" attribute; false when it makes the cookie unacceptable.
bool ApplyAttribute(Cookie& cookie, std::string_view attribute, const CookieUrl& from,
                    std::time_t now) {
    const std::size_t equals = attribute.find('=');
    const std::string key = text::ToLowerAscii(TrimBlanks(attribute.substr(0, equals)));
    const std::string_view value = equals == std::string_view::npos
                                       ? std::string_view()
                                       : TrimBlanks(attribute.substr(equals + 1));
    if (key == "secure") {
        cookie.secure = true;
    } else if (key == "path") {
        if (value.starts_with('/'))
            cookie.path = value;
    } else if (key == "domain") {
        std::string domain = text::ToLowerAscii(value);
        if (domain.starts_with('.'))
            domain.erase(0, 1);
        if (domain.empty())
            return true;
        if (!DomainMatches(from.host, domain))
            return false; // a site may not set cookies for another
        cookie.domain = domain;
        cookie.hostOnly = false;
    } else if (key == "max-age") {
        long long seconds = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error == std::errc() && end == value.data() + value.size())
            cookie.expires = seconds <= 0 ? now - 1 : now + std::min<long long>(seconds, 1LL << 40);
    } else if (key == "expires" && !cookie.expires) {
        const std::time_t when = curl_getdate(std::string(value).c_str(), nullptr);
        if (when != -1)
            cookie.expires = when;
    }
    return true;
}

} // namespace

CookieStore& CookieStore::Global() {
    static CookieStore store;
    return store;
}

bool CookieStore::Set(std::string_view url, std::string_view text) {
    const std::optional<CookieUrl> from = ParseUrl(url);
    if (!from)
        return false;
    const std::time_t now = std::time(nullptr);
    const std::size_t semicolon = text.find(';');
    const std::string_view pair = text.substr(0, semicolon);
    const std::size_t equals = pair.find('=');
    Cookie cookie;
    if (equals != std::string_view::npos)
        cookie.name = TrimBlanks(pair.substr(0, equals));
    cookie.value = TrimBlanks(equals == std::string_view::npos ? pair : pair.substr(equals + 1));
    if (cookie.name.empty() && cookie.value.empty())
        return false;
    cookie.domain = from->host;
    cookie.path = DefaultPath(from->path);

    // Max-Age outranks Expires wherever it stands, so it is applied first.
    std::vector<std::string_view> attributes;
    for (std::size_t at = semicolon; at != std::string_view::npos;) {
        const std::size_t next = text.find(';', at + 1);
        attributes.push_back(
            text.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
        at = next;
    }
    std::stable_partition(attributes.begin(), attributes.end(), [](std::string_view a) {
        return text::ToLowerAscii(TrimBlanks(a.substr(0, a.find('=')))) == "max-age";
    });
    for (const std::string_view attribute : attributes) {
        if (!ApplyAttribute(cookie, attribute, *from, now))
            return false;
    }

    std::lock_guard lock(mutex_);
    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    if (IsExpired(cookie, now)) {
        if (same != cookies_.end())
            cookies_.erase(same);
    } else if (same != cookies_.end()) {
        *same = std::move(cookie); // keeps its place, and so its age
    } else {
        cookies_.push_back(std::move(cookie));
    }
    return true;
}

std::string CookieStore::CookieHeaderFor(std::string_view url) {
    const std::optional<CookieUrl> to = ParseUrl(url);
    if (!to)
        return {};
    const std::time_t now = std::time(nullptr);
    std::lock_guard lock(mutex_);
    std::erase_if(cookies_, [&](const Cookie& c) { return IsExpired(c, now); });
    std::vector<const Cookie*> matching;
    for (const Cookie& cookie : cookies_) {
        const bool host =
            cookie.hostOnly ? to->host == cookie.domain : DomainMatches(to->host, cookie.domain);
        if (host && PathMatches(to->path, cookie.path) && (to->secure || !cookie.secure))
            matching.push_back(&cookie);
    }
    std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() > b->path.size();
    });
    std::string header;
    for (const Cookie* cookie : matching) {
        if (!header.empty())
            header += "; ";
        if (!cookie->name.empty())
            header += cookie->name + "=";
        header += cookie->value;
    }
    return header;
}

std::vector<Cookie> CookieStore::All() {
    std::lock_guard lock(mutex_);
    return cookies_;
}

void CookieStore::Clear() {
    std::lock_guard lock(mutex_);
    cookies_.clear();
}

bool InternetSetCookie(std::string_view url, std::string_view name, std::string_view data) {
    if (name.empty())
        return CookieStore::Global().Set(url, data);
    std::string text(name);
    text += '=';
    text += data;
    return CookieStore::Global().Set(url, text);
}

std::optional<std::string> InternetGetCookie(std::string_view url, std::size_t bufferSize) {
    std::string text = CookieStore::Global().CookieHeaderFor(url);
    if (text.empty() || text.size() + 1 > bufferSize)
        return std::nullopt;
    return text;
}

} // namespace vm::http
