#include "platform/http/SystemProxy.h"

#include "platform/text/Gbk.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <mutex>
#include <proxy.h>

namespace vm::http {
namespace {

std::string Variable(const char* lower, const char* upper) {
    for (const char* name : {lower, upper}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return text::Trim(value);
    }
    return {};
}

bool IsSecureUrl(std::string_view url) {
    return text::EqualsNoCase(url.substr(0, 8), "https://");
}

// curl takes a proxy without a scheme as an HTTP proxy, and knows "socks://" as socks4 only;
// the desktop means SOCKS 5 by it.
std::string WithScheme(std::string proxy) {
    if (proxy.empty())
        return proxy;
    const std::string lower = text::ToLowerAscii(proxy);
    if (lower.starts_with("socks://"))
        return "socks5://" + proxy.substr(8);
    if (lower.find("://") == std::string::npos)
        return "http://" + proxy;
    return proxy;
}

// libproxy answers from the desktop's configuration (and its PAC script, when it names one).
// One factory serves the process; it is not documented as thread-safe, hence the lock.
std::string DesktopProxyFor(const std::string& url) {
    static std::mutex mutex;
    static pxProxyFactory* factory = nullptr;
    const std::lock_guard lock(mutex);
    if (!factory)
        factory = px_proxy_factory_new();
    if (!factory)
        return {};
    char** proxies = px_proxy_factory_get_proxies(factory, url.c_str());
    if (!proxies)
        return {};
    std::string first = proxies[0] ? proxies[0] : "";
    px_proxy_factory_free_proxies(proxies);
    const std::string lower = text::ToLowerAscii(first);
    if (first.empty() || lower.starts_with("direct://"))
        return {};
    if (!lower.starts_with("http://") && !lower.starts_with("socks"))
        return {}; // a kind curl cannot speak: going direct is the only sane answer
    return WithScheme(first);
}

} // namespace

std::string HostOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        return close == std::string_view::npos ? std::string()
                                               : text::ToLowerAscii(authority.substr(1, close - 1));
    }
    return text::ToLowerAscii(authority.substr(0, authority.find(':')));
}

bool IsLoopbackHost(std::string_view host) {
    if (host.ends_with('.'))
        host.remove_suffix(1);
    if (host == "localhost" || host.ends_with(".localhost") || host == "::1")
        return true;
    in_addr address{};
    return inet_pton(AF_INET, std::string(host).c_str(), &address) == 1 &&
           (ntohl(address.s_addr) >> 24) == 127;
}

bool BypassesProxy(std::string_view host, const std::vector<std::string>& bypass) {
    for (std::string_view entry : bypass) {
        if (entry == "*")
            return true;
        if (entry.starts_with("*."))
            entry.remove_prefix(2);
        else if (entry.starts_with('.'))
            entry.remove_prefix(1);
        if (entry.starts_with('[') && entry.find(']') != std::string_view::npos)
            entry = entry.substr(1, entry.find(']') - 1);
        else if (std::count(entry.begin(), entry.end(), ':') == 1)
            entry = entry.substr(0, entry.find(':')); // a port changes nothing
        if (entry.empty())
            continue;
        if (host == entry || (host.size() > entry.size() && host.ends_with(entry) &&
                              host[host.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

std::string EnvironmentProxies::ProxyFor(std::string_view url) const {
    const std::string host = HostOf(url);
    if (host.empty() || IsLoopbackHost(host) || BypassesProxy(host, bypass))
        return {};
    const std::string& named = IsSecureUrl(url) ? https : http;
    return WithScheme(named.empty() ? all : named);
}

EnvironmentProxies ReadEnvironmentProxies() {
    EnvironmentProxies proxies;
    proxies.http = Variable("http_proxy", "HTTP_PROXY");
    proxies.https = Variable("https_proxy", "HTTPS_PROXY");
    proxies.all = Variable("all_proxy", "ALL_PROXY");
    for (const std::string& piece :
         text::Split(text::ReplaceAll(Variable("no_proxy", "NO_PROXY"), " ", ","), ",")) {
        std::string entry = text::ToLowerAscii(text::Trim(piece));
        if (!entry.empty())
            proxies.bypass.push_back(std::move(entry));
    }
    return proxies;
}

std::string SystemProxyFor(std::string_view url) {
    const EnvironmentProxies environment = ReadEnvironmentProxies();
    if (environment.NamesAny())
        return environment.ProxyFor(url);
    const std::string host = HostOf(url);
    if (host.empty() || IsLoopbackHost(host))
        return {};
    return DesktopProxyFor(std::string(url));
}

} // namespace vm::http
