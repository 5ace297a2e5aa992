#include "platform/gui/qt/QtWebNetwork.h"

#include "platform/http/SystemProxy.h"

#include <QNetworkProxyFactory>

#include <algorithm>

namespace vm::gui::qt {
namespace {

// Chromium names a proxy "host:port" for HTTP, or with its scheme for the others; it has no
// place for credentials.
std::string ChromiumProxy(std::string proxy) {
    if (proxy.starts_with("http://"))
        proxy.erase(0, 7);
    const std::size_t scheme = proxy.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = proxy.find('@', start);
    if (at != std::string::npos)
        proxy.erase(start, at + 1 - start);
    while (!proxy.empty() && proxy.back() == '/')
        proxy.pop_back();
    return proxy;
}

} // namespace

void AddWebProxyArguments(std::vector<std::string>& arguments) {
    // Chromium's own configuration service: it takes switches given on the command line over
    // the desktop's setting, and reads the desktop's setting (GNOME, KDE) as libproxy does.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    const http::EnvironmentProxies environment = http::ReadEnvironmentProxies();
    if (!environment.NamesAny())
        return;
    bool hasSeparator = false;
    for (const std::string& argument : arguments)
        hasSeparator = hasSeparator || argument == "--webEngineArgs";
    if (!hasSeparator)
        arguments.emplace_back("--webEngineArgs");

    // The same answers as the request objects: per scheme, all_proxy for a scheme without its
    // own, no_proxy as names with their sub-domains; loopback Chromium never proxies.
    http::EnvironmentProxies unbypassed = environment;
    unbypassed.bypass.clear();
    const std::string probe[] = {"http://a.invalid/", "https://a.invalid/"};
    std::string rules;
    const char* const schemes[] = {"http", "https"};
    for (int i = 0; i < 2; ++i) {
        const std::string proxy = ChromiumProxy(unbypassed.ProxyFor(probe[i]));
        if (proxy.empty())
            continue;
        rules += (rules.empty() ? "" : ";") + std::string(schemes[i]) + "=" + proxy;
    }
    const auto& bypassList = environment.bypass;
    if (rules.empty() || std::find(bypassList.begin(), bypassList.end(), "*") != bypassList.end()) {
        arguments.emplace_back("--no-proxy-server");
        return;
    }
    arguments.emplace_back("--proxy-server=" + rules);
    std::string bypass;
    for (std::string entry : environment.bypass) {
        if (entry.starts_with("*."))
            entry.erase(0, 2);
        else if (entry.starts_with('.'))
            entry.erase(0, 1);
        if (std::count(entry.begin(), entry.end(), ':') == 1)
            entry.erase(entry.find(':')); // the request objects ignore the port as well
        if (entry.empty())
            continue;
        bypass += (bypass.empty() ? "" : ";") + entry + ";*." + entry;
    }
    if (!bypass.empty())
        arguments.emplace_back("--proxy-bypass-list=" + bypass);
}

} // namespace vm::gui::qt
