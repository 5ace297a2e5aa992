// The web views and the request routines on one network footing: the system's proxy and one
// cookie store, with a real WebEngine page loaded through a loopback proxy.

#include "QtFixture.h"
#include "platform/gui/qt/QtWebNetwork.h"
#include "platform/http/CookieStore.h"
#include "platform/http/Internet.h"
#include "support/ForwardingProxy.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

using namespace vm::gui;
using namespace vm::gui::testing;
using vm::testing::ForumUrl;
using vm::testing::ForwardingProxy;
using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;

namespace {

// The forum: /set sets a cookie by header and one by script; every page shows the cookies it
// was sent in its title.
LoopbackHttpServer& Forum() {
    static auto* forum = new LoopbackHttpServer([](const ReceivedRequest& request, HttpPeer& peer) {
        const std::string head = "<html><head><title>" + request.Header("Cookie") + "</title>";
        if (request.target == "/set") {
            peer.Send(LoopbackHttpServer::Response(
                200, "Content-Type: text/html\r\nSet-Cookie: web=1; Max-Age=3600; Path=/\r\n",
                head + "<script>document.cookie='js=2; path=/';</script></head></html>"));
        } else {
            peer.Send(LoopbackHttpServer::Response(200, "Content-Type: text/html\r\n",
                                                   head + "</head></html>"));
        }
    });
    return *forum;
}

ForwardingProxy& Proxy() {
    static auto* proxy = new ForwardingProxy;
    return *proxy;
}

class WebNetwork : public QtTest {
protected:
    void SetUp() override {
        // Before the web engine starts: it reads its proxy once.
        setenv("http_proxy", ("http://" + Proxy().Address()).c_str(), 1);
        QtTest::SetUp();
        WindowSpec spec;
        spec.className = "Velum";
        spec.geometry = {0, 0, 400, 300};
        spec.controls = {
            {.name = "web", .kind = ControlKind::Browser, .geometry = {0, 0, 400, 300}}};
        window = &app.loadWindow(spec, {});
    }
    void TearDown() override {
        QtTest::TearDown();
        vm::http::CookieStore::Global().Clear();
    }

    bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            app.processPending(20);
        return done();
    }
    // The title of the page at `path`, which shows the cookies the browser sent.
    std::string Visit(const std::string& path) {
        Control& web = window->control("web");
        const std::size_t before = Forum().RequestCount();
        web.navigate(ForumUrl(Forum(), path));
        WaitFor([&] {
            const std::vector<ReceivedRequest> requests = Forum().Requests();
            const bool arrived =
                std::any_of(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end(),
                            [&](const ReceivedRequest& r) { return r.target == path; });
            return arrived && !web.busy() && web.document();
        });
        return web.document() ? web.document()->evaluate("document.title").value_or("?") : "?";
    }
    // The Cookie line the request routines send to the forum.
    static std::string SentByTheSession() {
        using namespace vm::http;
        const HInternet internet = InternetOpen("t", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
        const HInternet connection = InternetConnect(
            internet, vm::testing::kForumHost, Forum().Port(), "", "", INTERNET_SERVICE_HTTP, 0, 0);
        const HInternet request = HttpOpenRequest(connection, "GET", "/session", "", "", {}, 0, 0);
        const bool sent = HttpSendRequest(request, "", "");
        InternetCloseHandle(internet);
        if (!sent)
            return "(failed)";
        const std::vector<ReceivedRequest> requests = Forum().Requests();
        const auto last =
            std::find_if(requests.rbegin(), requests.rend(),
                         [](const ReceivedRequest& r) { return r.target == "/session"; });
        return last->Header("Cookie");
    }

    Window* window = nullptr;
};

TEST_F(WebNetwork, PagesComeThroughTheSystemProxyAndShareOneCookieStore) {
    vm::http::CookieStore& store = vm::http::CookieStore::Global();
    EXPECT_EQ(Visit("/set"), "");
    // The forum's name resolves nowhere: the page came through the proxy.
    const auto proxied = Proxy().Requests();
    EXPECT_TRUE(std::any_of(proxied.begin(), proxied.end(), [](const ReceivedRequest& r) {
        return r.target == ForumUrl(Forum(), "/set");
    }));

    // Browser to request routines: the header's cookie and the script's.
    const std::string forum = ForumUrl(Forum(), "/");
    ASSERT_TRUE(WaitFor([&] { return store.CookieHeaderFor(forum) == "web=1; js=2"; }))
        << store.CookieHeaderFor(forum);
    EXPECT_EQ(SentByTheSession(), "web=1; js=2");

    // Request routines to browser: a new cookie, a changed one, a removed one.
    ASSERT_TRUE(vm::http::InternetSetCookie(forum, "sys", "3; Max-Age=3600"));
    ASSERT_TRUE(vm::http::InternetSetCookie(forum, "web", "9"));
    ASSERT_TRUE(vm::http::InternetSetCookie(forum, "js", "; Max-Age=0; path=/"));
    app.processPending(50);
    // The browser orders by its own creation times, which its replacing of "web" renewed.
    const std::string seen = Visit("/echo");
    EXPECT_TRUE(seen == "web=9; sys=3" || seen == "sys=3; web=9") << seen;
    // Nothing echoed back and forth on the way.
    EXPECT_EQ(store.CookieHeaderFor(forum), "web=9; sys=3");
    EXPECT_EQ(SentByTheSession(), "web=9; sys=3");
}

TEST(WebProxyArguments, FollowTheEnvironment) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> environment;
        std::vector<std::string> added;
    };
    const Case cases[] = {
        {{}, {}},
        {{{"http_proxy", "http://user:pw@p:1/"}}, {"--webEngineArgs", "--proxy-server=http=p:1"}},
        {{{"HTTPS_PROXY", "s:2"}, {"ALL_PROXY", "socks5://k:3"}},
         {"--webEngineArgs", "--proxy-server=http=socks5://k:3;https=s:2"}},
        {{{"http_proxy", "p:1"}, {"no_proxy", ".example.com, b.example:81"}},
         {"--webEngineArgs", "--proxy-server=http=p:1",
          "--proxy-bypass-list=example.com;*.example.com;b.example;*.b.example"}},
        {{{"http_proxy", "p:1"}, {"NO_PROXY", "*"}}, {"--webEngineArgs", "--no-proxy-server"}},
    };
    const char* const names[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
    const std::string saved = std::getenv("http_proxy") ? std::getenv("http_proxy") : "";
    for (const Case& c : cases) {
        for (const char* name : names)
            unsetenv(name);
        for (const auto& [name, value] : c.environment)
            setenv(name, value, 1);
        std::vector<std::string> arguments = {"program"};
        qt::AddWebProxyArguments(arguments);
        arguments.erase(arguments.begin());
        EXPECT_EQ(arguments, c.added) << (c.environment.empty() ? "" : c.environment[0].second);
    }
    // An existing separator is not repeated.
    std::vector<std::string> arguments = {"program", "--webEngineArgs", "--no-sandbox"};
    qt::AddWebProxyArguments(arguments);
    EXPECT_EQ(arguments.size(), 4u);
    for (const char* name : names)
        unsetenv(name);
    if (!saved.empty())
        setenv("http_proxy", saved.c_str(), 1);
}

} // namespace
