#include "platform/http/CookieStore.h"

#include "platform/fs/File.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <curl/curl.h>
#include <libpsl.h>

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

bool IsAddress(std::string_view host) {
    if (host.starts_with('['))
        return true;
    in_addr v4{};
    in6_addr v6{};
    const std::string text(host);
    return inet_pton(AF_INET, text.c_str(), &v4) == 1 ||
           inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

// The list the system keeps up to date (Debian's publicsuffix), else the one libpsl carries.
// Names outside every listed suffix count as suffixes of their own (the "*" rule), so a made-up
// top-level name is refused as a cookie domain too.
bool IsPublicSuffix(std::string_view domain) {
    static const psl_ctx_t* const list = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return list == nullptr ||
           psl_is_public_suffix2(list, std::string(domain).c_str(), PSL_TYPE_ANY);
}

// Controls cannot travel in a header line, and a tab or line end would break the kept file.
bool HasControls(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool SameKey(const Cookie& a, const Cookie& b) {
    return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

bool SameCookie(const Cookie& a, const Cookie& b) {
    return SameKey(a, b) && a.value == b.value && a.hostOnly == b.hostOnly &&
           a.secure == b.secure && a.httpOnly == b.httpOnly && a.expires == b.expires;
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
    } else if (key == "httponly") {
        cookie.httpOnly = true;
    } else if (key == "domain") {
        std::string domain = text::ToLowerAscii(value);
        if (domain.starts_with('.'))
            domain.erase(0, 1);
        if (domain.empty())
            return true;
        if (domain == from.host && (IsAddress(domain) || IsPublicSuffix(domain)))
            return true; // a host may name itself: the cookie stays host-only
        if (!AcceptableCookieDomain(from.host, domain))
            return false; // a site may not set cookies for another, nor for a whole suffix
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
    if ((cookie.name.empty() && cookie.value.empty()) || HasControls(cookie.name) ||
        HasControls(cookie.value) ||
        cookie.name.size() + cookie.value.size() > CookieStore::kMaxCookieBytes)
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
    if (HasControls(cookie.path))
        return false;

    std::vector<Change> changes;
    {
        const std::lock_guard lock(mutex_);
        bool keptChanged = false;
        const auto same = std::find_if(cookies_.begin(), cookies_.end(),
                                       [&](const Cookie& c) { return SameKey(c, cookie); });
        // The request routines write back every cookie they sent, without attributes: the
        // same value stated again is the kept cookie, not a new session one that would end
        // with the program.
        if (same != cookies_.end() && !cookie.expires && same->expires &&
            same->value == cookie.value && !IsExpired(*same, now))
            return true;
        Put(std::move(cookie), now, changes, keptChanged);
        if (keptChanged)
            SaveLocked();
    }
    Report(changes);
    return true;
}

void CookieStore::Put(Cookie cookie, std::time_t now, std::vector<Change>& changes,
                      bool& keptChanged) {
    const auto same = std::find_if(cookies_.begin(), cookies_.end(),
                                   [&](const Cookie& c) { return SameKey(c, cookie); });
    if (IsExpired(cookie, now)) {
        if (same != cookies_.end()) {
            keptChanged = keptChanged || same->expires.has_value();
            changes.push_back({std::move(*same), true});
            cookies_.erase(same);
        }
        return;
    }
    if (same != cookies_.end()) {
        if (SameCookie(*same, cookie))
            return;
        keptChanged = keptChanged || same->expires || cookie.expires;
        *same = cookie; // keeps its place, and so its age
        changes.push_back({std::move(cookie), false});
        return;
    }
    // Full: the oldest cookie of the domain, or of all, makes room.
    const auto evict = [&](auto position) {
        keptChanged = keptChanged || position->expires.has_value();
        changes.push_back({std::move(*position), true});
        cookies_.erase(position);
    };
    if (std::count_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
            return c.domain == cookie.domain;
        }) >= static_cast<std::ptrdiff_t>(kMaxPerDomain)) {
        evict(std::find_if(cookies_.begin(), cookies_.end(),
                           [&](const Cookie& c) { return c.domain == cookie.domain; }));
    } else if (cookies_.size() >= kMaxCookies) {
        evict(cookies_.begin());
    }
    keptChanged = keptChanged || cookie.expires.has_value();
    cookies_.push_back(cookie);
    changes.push_back({std::move(cookie), false});
}

void CookieStore::Report(const std::vector<Change>& changes) {
    Listener listener;
    {
        const std::lock_guard lock(mutex_);
        listener = listener_;
    }
    if (!listener)
        return;
    for (const Change& change : changes)
        listener(change.cookie, change.removed);
}

void CookieStore::SetListener(Listener listener) {
    const std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

bool CookieStore::Insert(Cookie cookie) {
    cookie.domain = text::ToLowerAscii(cookie.domain);
    if (cookie.domain.starts_with('.')) {
        cookie.domain.erase(0, 1);
        cookie.hostOnly = false;
    }
    if (cookie.domain.empty() || !cookie.path.starts_with('/') ||
        (cookie.name.empty() && cookie.value.empty()) || HasControls(cookie.name) ||
        HasControls(cookie.value) || HasControls(cookie.domain) || HasControls(cookie.path) ||
        cookie.name.size() + cookie.value.size() > kMaxCookieBytes)
        return false;
    // The browser refuses these too; a cookie that reaches here anyway is not passed on.
    if (!cookie.hostOnly && !AcceptableCookieDomain(cookie.domain, cookie.domain))
        return false;
    std::vector<Change> changes;
    const std::lock_guard lock(mutex_);
    bool keptChanged = false;
    Put(std::move(cookie), std::time(nullptr), changes, keptChanged);
    if (keptChanged)
        SaveLocked();
    return true;
}

void CookieStore::Remove(const Cookie& cookie) {
    Cookie gone = cookie;
    gone.domain = text::ToLowerAscii(gone.domain);
    if (gone.domain.starts_with('.'))
        gone.domain.erase(0, 1);
    gone.expires = 0;
    std::vector<Change> changes;
    const std::lock_guard lock(mutex_);
    // A browser replacing a cookie first reports the old one removed: the new value that
    // this store already holds must not go with it.
    const auto same = std::find_if(cookies_.begin(), cookies_.end(),
                                   [&](const Cookie& c) { return SameKey(c, gone); });
    if (same == cookies_.end() || same->value != gone.value)
        return;
    bool keptChanged = false;
    Put(std::move(gone), std::time(nullptr), changes, keptChanged);
    if (keptChanged)
        SaveLocked();
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
    const std::lock_guard lock(mutex_);
    const bool kept = std::any_of(cookies_.begin(), cookies_.end(),
                                  [](const Cookie& c) { return c.expires.has_value(); });
    cookies_.clear();
    if (kept)
        SaveLocked();
}

namespace {

constexpr std::string_view kFileHeader = "# Netscape HTTP Cookie File\n";

// One line of the kept file: the classic seven tab-separated fields. Names and values hold no
// controls (Set() and Insert() refuse them), so a tab always separates.
std::string LineOf(const Cookie& cookie) {
    std::string line = cookie.hostOnly ? cookie.domain : "." + cookie.domain;
    line += cookie.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
    line += cookie.path;
    line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
    line += std::to_string(static_cast<long long>(*cookie.expires));
    line += "\t" + cookie.name + "\t" + cookie.value + "\n";
    // The HttpOnly flag rides on the domain field, as other programs write it.
    return cookie.httpOnly ? "#HttpOnly_" + line : line;
}

std::optional<Cookie> ParseLine(std::string_view line) {
    Cookie cookie;
    if (line.starts_with("#HttpOnly_")) {
        cookie.httpOnly = true;
        line.remove_prefix(10);
    }
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
        if (tab == std::string_view::npos)
            break;
        at = tab + 1;
    }
    if (fields.size() != 7)
        return std::nullopt;
    const auto flag = [](std::string_view field) -> std::optional<bool> {
        if (field == "TRUE")
            return true;
        if (field == "FALSE")
            return false;
        return std::nullopt;
    };
    const std::optional<bool> subdomains = flag(fields[1]);
    const std::optional<bool> secure = flag(fields[3]);
    long long expires = 0;
    const auto [end, error] =
        std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(), expires);
    if (!subdomains || !secure || error != std::errc() ||
        end != fields[4].data() + fields[4].size() || expires <= 0)
        return std::nullopt;
    cookie.domain = text::ToLowerAscii(fields[0]);
    if (cookie.domain.starts_with('.'))
        cookie.domain.erase(0, 1);
    cookie.hostOnly = !*subdomains;
    cookie.path = fields[2];
    cookie.secure = *secure;
    cookie.expires = static_cast<std::time_t>(expires);
    cookie.name = fields[5];
    cookie.value = fields[6];
    return cookie;
}

} // namespace

void CookieStore::SaveLocked() {
    if (path_.empty())
        return;
    std::string contents(kFileHeader);
    for (const Cookie& cookie : cookies_) {
        if (cookie.expires)
            contents += LineOf(cookie);
    }
    // A failed write leaves the last good file in place; the next change tries again.
    fs::WriteFileAtomic(path_, contents);
}

std::size_t CookieStore::KeepIn(std::string_view windowsPath) {
    const std::string path(windowsPath);
    std::vector<Cookie> read;
    bool damaged = false;
    const std::int64_t size = fs::FileSize(path);
    if (size > static_cast<std::int64_t>(kMaxFileBytes)) {
        damaged = true;
    } else if (size >= 0) {
        const std::optional<std::string> contents = fs::ReadFile(path);
        damaged = !contents;
        for (const std::string& raw :
             contents ? text::Split(*contents, "\n") : std::vector<std::string>()) {
            std::string_view line = raw;
            if (line.ends_with('\r'))
                line.remove_suffix(1);
            if (line.empty() || (line.starts_with('#') && !line.starts_with("#HttpOnly_")))
                continue;
            std::optional<Cookie> cookie = ParseLine(line);
            if (!cookie || cookie->domain.empty() || !cookie->path.starts_with('/') ||
                HasControls(cookie->name) || HasControls(cookie->value) ||
                (!cookie->hostOnly && !AcceptableCookieDomain(cookie->domain, cookie->domain))) {
                damaged = true;
                break;
            }
            read.push_back(std::move(*cookie));
        }
    }
    if (damaged) {
        // Kept for whoever wants to look; the store starts without it rather than half of it.
        fs::MoveFile(path, path + ".damaged");
        read.clear();
    }

    std::vector<Change> changes;
    std::size_t count = 0;
    {
        const std::lock_guard lock(mutex_);
        const std::time_t now = std::time(nullptr);
        bool keptChanged = false;
        for (Cookie& cookie : read) {
            if (IsExpired(cookie, now))
                continue;
            Put(std::move(cookie), now, changes, keptChanged);
            ++count;
        }
        path_ = path;
        if (damaged || keptChanged)
            SaveLocked();
    }
    Report(changes);
    return count;
}

bool AcceptableCookieDomain(std::string_view host, std::string_view domain) {
    if (domain.empty() || IsAddress(host) || IsPublicSuffix(domain))
        return false;
    return host == domain || (host.size() > domain.size() && host.ends_with(domain) &&
                              host[host.size() - domain.size() - 1] == '.');
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
