#pragma once
// The system's proxy, as the Windows request objects take the machine's configuration: the
// environment first (http_proxy, https_proxy, all_proxy and no_proxy, each in lower or upper
// case, lower first), and where it names no proxy at all, the desktop's setting through
// libproxy. Loopback hosts always go direct, as browsers treat them.

#include <string>
#include <string_view>
#include <vector>

namespace vm::http {

// The environment's proxy configuration. Proxies are as written there ("host:port" or with a
// scheme); `bypass` holds the no_proxy entries, lower case, without blanks.
struct EnvironmentProxies {
    std::string http;
    std::string https;
    std::string all;
    std::vector<std::string> bypass;

    // True when the environment names any proxy: then it alone decides.
    bool NamesAny() const { return !http.empty() || !https.empty() || !all.empty(); }
    // The proxy for `url` ("" for direct) by these settings.
    std::string ProxyFor(std::string_view url) const;
};

EnvironmentProxies ReadEnvironmentProxies();

// True when `host` (lower case, no port) matches a no_proxy entry: "*" matches every host, a
// name matches itself and its sub-domains (a leading "." or "*." changes nothing), an address
// matches itself.
bool BypassesProxy(std::string_view host, const std::vector<std::string>& bypass);

// localhost, names under .localhost, 127.0.0.0/8 and ::1.
bool IsLoopbackHost(std::string_view host);

// The proxy the system names for `url`: a proxy URL with its scheme ("http://host:port",
// "socks5://host:port"), or "" for a direct connection.
std::string SystemProxyFor(std::string_view url);

// The host of an http or https URL, lower case, without port or brackets; "" when there is none.
std::string HostOf(std::string_view url);

} // namespace vm::http
