#include "platform/http/SystemProxy.h"
#include "platform/automation/Com.h"
#include "platform/http/Internet.h"
#include "platform/http/RequestObject.h"
#include "support/ForwardingProxy.h"
#include "support/LoopbackHttp.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace vm::http {
namespace {

using automation::Object;
using automation::Variant;
using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;

constexpr const char* kVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                      "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

using vm::testing::ForumUrl;
using vm::testing::ForwardingProxy;
using vm::testing::kForumHost;

class SystemProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clear();
        InstallHttpClasses();
        automation::CoInitialize();
    }
    void TearDown() override {
        automation::CoUninitialize();
        Clear();
    }
    static void Clear() {
        for (const char* name : kVariables)
            ::unsetenv(name);
    }
    static void Set(const char* name, const std::string& value) {
        ::setenv(name, value.c_str(), 1);
    }
};

TEST_F(SystemProxyTest, EnvironmentRules) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> environment;
        const char* url;
        const char* proxy;
    };
    const Case cases[] = {
        {{}, "http://a.example/", ""},
        {{{"http_proxy", "p:1"}}, "http://a.example/", "http://p:1"},
        {{{"HTTP_PROXY", "p:1"}}, "http://a.example/", "http://p:1"},
        {{{"http_proxy", "low:1"}, {"HTTP_PROXY", "up:2"}}, "http://a.example/", "http://low:1"},
        // A scheme's own variable serves only that scheme; all_proxy serves the rest.
        {{{"http_proxy", "p:1"}}, "https://a.example/", ""},
        {{{"https_proxy", "s:2"}, {"all_proxy", "all:3"}}, "https://a.example/", "http://s:2"},
        {{{"https_proxy", "s:2"}, {"all_proxy", "all:3"}}, "http://a.example/", "http://all:3"},
        {{{"ALL_PROXY", "socks5://k:4"}}, "http://a.example/", "socks5://k:4"},
        {{{"all_proxy", "socks://k:4"}}, "http://a.example/", "socks5://k:4"},
        // no_proxy: names cover their sub-domains, not their look-alikes; "*" covers all.
        {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}}, "http://www.example.com/", ""},
        {{{"http_proxy", "p:1"}, {"no_proxy", ".example.com"}}, "http://example.com/", ""},
        {{{"http_proxy", "p:1"}, {"NO_PROXY", "b.example, *.c.example"}},
         "http://x.c.example/",
         ""},
        {{{"http_proxy", "p:1"}, {"no_proxy", "example.com"}},
         "http://badexample.com/",
         "http://p:1"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "example.com:8080"}}, "http://example.com:81/", ""},
        {{{"http_proxy", "p:1"}, {"no_proxy", "10.0.0.5"}}, "http://10.0.0.5/", ""},
        {{{"http_proxy", "p:1"}, {"no_proxy", "*"}}, "http://a.example/", ""},
        {{{"http_proxy", "p:1"}, {"no_proxy", "WWW.Example.COM"}}, "http://www.example.com/", ""},
        // Loopback never goes through a proxy, as in browsers.
        {{{"http_proxy", "p:1"}}, "http://127.0.0.1:80/", ""},
        {{{"http_proxy", "p:1"}}, "http://127.9.9.9/", ""},
        {{{"http_proxy", "p:1"}}, "http://forum.localhost:81/", ""},
        {{{"http_proxy", "p:1"}}, "http://[::1]:81/", ""},
        {{{"http_proxy", "p:1"}}, "http://user@128.0.0.1/", "http://p:1"},
    };
    for (const Case& c : cases) {
        Clear();
        for (const auto& [name, value] : c.environment)
            Set(name, value);
        EXPECT_EQ(SystemProxyFor(c.url), c.proxy) << c.url << " with " << c.environment.size();
    }
}

TEST_F(SystemProxyTest, RequestObjectsReachAnUnresolvableForumThroughTheEnvironmentsProxy) {
    LoopbackHttpServer forum([](const ReceivedRequest& request, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", "page " + request.target));
    });
    ForwardingProxy proxy;
    Set("http_proxy", "http://" + proxy.Address());

    for (const char* progId : {"WinHttp.WinHttpRequest.5.1", "MSXML2.ServerXMLHTTP.6.0"}) {
        const Object request = automation::CreateObject(progId);
        request.Call("Open",
                     {Variant("GET"), Variant(ForumUrl(forum, "/info?a=1")), Variant(false)});
        request.Call("Send");
        EXPECT_EQ(request.GetInt("Status"), 200) << progId;
        EXPECT_EQ(request.GetText("ResponseText"), "page /info?a=1") << progId;
    }
    EXPECT_EQ(proxy.Requests().size(), 2u);

    // SetProxy 1 is direct: the name then does not resolve.
    const Object direct = automation::CreateObject("WinHttp.WinHttpRequest.5.1");
    direct.Call("SetProxy", {Variant(1)});
    direct.Call("Open", {Variant("GET"), Variant(ForumUrl(forum, "/")), Variant(false)});
    direct.Call("Send");
    EXPECT_EQ(automation::LastCallException(), "The server name or address could not be resolved");
    EXPECT_EQ(proxy.Requests().size(), 2u);
}

TEST_F(SystemProxyTest, ABrokenProxyIsAClearFailure) {
    LoopbackHttpServer garbage([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send("\x01\x02 not http at all\r\n\r\n");
        peer.Close();
    });
    LoopbackHttpServer silent([](const ReceivedRequest&, HttpPeer& peer) { peer.Close(); });
    struct Case {
        std::string proxy;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"127.0.0.1:" + std::to_string(vm::testing::ClosedPort()), ERROR_INTERNET_CANNOT_CONNECT},
        {"127.0.0.1:" + std::to_string(garbage.Port()), ERROR_INTERNET_CONNECTION_ABORTED},
        {"127.0.0.1:" + std::to_string(silent.Port()), ERROR_INTERNET_CONNECTION_ABORTED},
        {"proxy.vellumark.invalid:8080", ERROR_INTERNET_NAME_NOT_RESOLVED},
    };
    for (const Case& c : cases) {
        Set("http_proxy", c.proxy);
        const HInternet internet = InternetOpen("", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
        const HInternet connection =
            InternetConnect(internet, kForumHost, 80, "", "", INTERNET_SERVICE_HTTP, 0, 0);
        const HInternet request = HttpOpenRequest(connection, "GET", "/", "", "", {}, 0, 0);
        EXPECT_FALSE(HttpSendRequest(request, "", "")) << c.proxy;
        EXPECT_EQ(InternetLastError(), c.error) << c.proxy;
        InternetCloseHandle(internet);
    }
    // The request object says so in its own words.
    Set("http_proxy", cases[0].proxy);
    const Object request = automation::CreateObject("WinHttp.WinHttpRequest.5.1");
    request.Call("Open",
                 {Variant("GET"), Variant("http://forum.vellumark.invalid/"), Variant(false)});
    request.Call("Send");
    EXPECT_EQ(automation::LastCallException(),
              "A connection with the server could not be established");
}

} // namespace
} // namespace vm::http
