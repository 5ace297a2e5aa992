#include "net/WinHttpFetch.h"

#include "net/UrlText.h"
#include "platform/automation/Com.h"
#include "platform/http/CookieStore.h"
#include "platform/http/RequestObject.h"
#include "support/LoopbackHttp.h"

#include <gtest/gtest.h>

namespace vm::net {
namespace {

using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;

class WinHttpFetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        http::InstallHttpClasses();
        http::CookieStore::Global().Clear();
    }
    void TearDown() override {
        http::CookieStore::Global().Clear();
        EXPECT_EQ(automation::ComInitCount(), 0);
    }

    // A name under ".localhost" reaches the loopback server and has a two-label domain.
    std::string Url(std::string_view path) const {
        return "http://www.vm.localhost:" + std::to_string(server.Port()) + std::string(path);
    }

    LoopbackHttpServer server{[](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/cookies")
            peer.Send(LoopbackHttpServer::Response(
                200, "Set-Cookie: a=2; Path=/\r\nSet-Cookie: b=3; Path=/\r\n", "c"));
        else if (request.target == "/forget")
            peer.Send(LoopbackHttpServer::Response(200, "Set-Cookie: a=deleted; Path=/\r\n", ""));
        else if (request.target == "/moved")
            peer.Send(LoopbackHttpServer::Response(302, "Location:  /there \r\n", "3xx"));
        else if (request.target == "/content")
            peer.Send(LoopbackHttpServer::Response(200, "Content-Location: /alt\r\n", "alt"));
        else if (request.target == "/stall")
            peer.Stall(5000);
        else
            peer.Send(LoopbackHttpServer::Response(200, "", "body:" + request.body));
    }};
};

TEST_F(WinHttpFetchTest, DefaultHeaderBlockAndMethod) {
    std::string method = "post";
    std::string headers;
    const std::string url = Url("/form");
    EXPECT_EQ(WinHttpFetch(url, {.method = &method, .postText = "k=v", .extraHeaders = &headers}),
              "body:k=v");
    EXPECT_EQ(method, "POST");
    EXPECT_EQ(headers, DefaultFetchHeaders(url));

    const ReceivedRequest got = server.Requests().at(0);
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.HeaderNames(),
              (std::vector<std::string>{"Host", "Referer", "Accept", "Accept-Language",
                                        "User-Agent", "Content-Type", "Content-Length"}));
    EXPECT_EQ(got.Header("Referer"), url);
    EXPECT_EQ(got.Header("Accept"), "*/*");
    EXPECT_EQ(got.Header("Accept-Language"), "zh-cn");
    EXPECT_EQ(got.Header("User-Agent"),
              "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; Trident/5.0)");
    EXPECT_EQ(got.Header("Content-Type"), "application/x-www-form-urlencoded");

    // An omitted method is a GET.
    WinHttpFetch(Url("/plain"));
    EXPECT_EQ(server.Requests().at(1).method, "GET");
}

TEST_F(WinHttpFetchTest, ExtraHeaderLines) {
    struct Case {
        std::string headers;
        std::vector<std::pair<std::string, std::string>>
            sent; // besides Host, Accept and User-Agent
    };
    const std::vector<Case> cases = {
        {"X-One: 1", {{"X-One", "1"}}},
        {"no colon here", {}},
        {"X-A: 1\r\nskipped\r\nX-B: http://h:81/p\r\n", {{"X-A", "1"}, {"X-B", "http://h:81/p"}}},
        {"X-Empty:\r\nX-C: 2", {{"X-Empty", ""}, {"X-C", "2"}}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::string headers = cases[i].headers;
        WinHttpFetch(Url("/h"), {.extraHeaders = &headers});
        auto got = server.Requests().at(i).headers;
        std::erase_if(got, [](const auto& h) {
            return h.first == "Host" || h.first == "Accept" || h.first == "User-Agent";
        });
        EXPECT_EQ(got, cases[i].sent) << cases[i].headers;
        EXPECT_EQ(headers, cases[i].headers);
    }
}

TEST_F(WinHttpFetchTest, RedirectTargetAndResponseHeaders) {
    struct Case {
        std::string path;
        bool noRedirect;
        std::string body;
        std::string target; // "*" for the full header text
    };
    const std::vector<Case> cases = {
        {"/moved", true, "3xx", "/there"},
        {"/moved", false, "body:", "*"},
        {"/content", false, "alt", "Content- /alt"},
    };
    for (const Case& c : cases) {
        std::string target = "left over";
        std::string headers;
        const std::string body = WinHttpFetch(
            Url(c.path),
            {.redirectTarget = &target, .noRedirect = c.noRedirect, .responseHeaders = &headers});
        EXPECT_EQ(body, c.body) << c.path;
        EXPECT_NE(headers.find("Content-Length: "), std::string::npos);
        EXPECT_EQ(target, c.target == "*" ? headers : c.target) << c.path;
    }
}

TEST_F(WinHttpFetchTest, CookiesFollowTheStore) {
    StoreCookies("vm.localhost", "s=0;");
    std::string cookies = "a=1";
    std::string fresh;
    WinHttpFetch(Url("/cookies"), {.cookies = &cookies, .newCookies = &fresh});
    EXPECT_EQ(server.Requests().at(0).Header("Cookie"), "s=0; a=1;");
    EXPECT_EQ(fresh, "a=2; b=3;");
    EXPECT_EQ(cookies, "s=0; a=2; b=3;");
    EXPECT_EQ(ReadStoredCookies("vm.localhost"), "s=0; a=2; b=3");

    // A cookie the server sets to "deleted" leaves the caller's text; the store keeps its last
    // value, as nothing is written for a cookie that is gone.
    WinHttpFetch(Url("/forget"), {.cookies = &cookies, .newCookies = &fresh});
    EXPECT_EQ(server.Requests().at(1).Header("Cookie"), "s=0; a=2; b=3;");
    EXPECT_EQ(cookies, "s=0; b=3;");
}

TEST_F(WinHttpFetchTest, BytesWinOverTextAndTimeoutsCut) {
    EXPECT_EQ(WinHttpFetch(Url("/b"), {.postText = "text", .postBytes = std::string("\0\x01", 2)}),
              std::string("body:\0\x01", 7));

    std::string headers = "x";
    std::string target = "x";
    std::string cookies = "k=1";
    EXPECT_EQ(WinHttpFetch(Url("/stall"), {.cookies = &cookies,
                                           .redirectTarget = &target,
                                           .timeoutSeconds = 1,
                                           .responseHeaders = &headers}),
              "");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(target, "");
    // The cookie steps run after a failure too.
    EXPECT_EQ(ReadStoredCookies("vm.localhost"), "k=1");

    const std::string refused =
        "http://127.0.0.1:" + std::to_string(vm::testing::ClosedPort()) + "/";
    EXPECT_EQ(WinHttpFetch(refused, {.responseHeaders = &headers}), "");
    EXPECT_EQ(headers, "");
}

TEST_F(WinHttpFetchTest, MissingObjectTouchesNothing) {
    automation::RegisterClass("WinHttp.WinHttpRequest.5.1", "", [] { return nullptr; });
    std::string method = "post";
    std::string headers;
    EXPECT_EQ(WinHttpFetch(Url("/x"), {.method = &method, .extraHeaders = &headers}), "");
    EXPECT_EQ(method, "post");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(server.RequestCount(), 0u);
    automation::RegisterClass("WinHttp.WinHttpRequest.5.1", "", &http::NewRequestObject);
}

} // namespace
} // namespace vm::net
