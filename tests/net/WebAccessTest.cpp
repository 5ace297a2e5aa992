#include "net/WebAccess.h"

#include "platform/http/CookieStore.h"
#include "platform/kernel/Thread.h"
#include "support/ForwardingProxy.h"
#include "support/LoopbackHttp.h"

#include <gtest/gtest.h>
#include <iostream>
#include <mutex>
#include <thread>

namespace vm::net {
namespace {

using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;
using Clock = std::chrono::steady_clock;

const std::string kAccept =
    "image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*";
const std::string kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
                           "2.0.50727; .NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class WebAccessTest : public ::testing::Test {
protected:
    void SetUp() override { http::CookieStore::Global().Clear(); }
    void TearDown() override { http::CookieStore::Global().Clear(); }

    // The server thread takes a copy: a test changes the reply while a connection may still be
    // finishing its send.
    void SetReply(std::string text) {
        const std::lock_guard lock(replyMutex);
        reply = std::move(text);
    }
    std::string Reply() {
        const std::lock_guard lock(replyMutex);
        return reply;
    }

    std::mutex replyMutex;
    std::string reply = LoopbackHttpServer::Response(200, "", "page");
    LoopbackHttpServer server{[this](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/stall") {
            peer.Stall(10000);
        } else if (request.target == "/half") {
            peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf");
            peer.Stall(10000);
        } else if (request.target == "/from") {
            peer.Send(LoopbackHttpServer::Response(302, "Location: /to\r\n", "3xx"));
        } else {
            peer.Send(Reply());
        }
    }};
};

TEST_F(WebAccessTest, DefaultRequestAndSchemePrefix) {
    std::string url = "127.0.0.1:" + std::to_string(server.Port()) + "/p?q=1";
    EXPECT_EQ(WebAccess(url), "page");
    EXPECT_EQ(url, server.Url("/p?q=1"));
    const ReceivedRequest got = server.Requests().at(0);
    EXPECT_EQ(got.method, "GET");
    EXPECT_EQ(got.target, "/p?q=1");
    EXPECT_EQ(got.HeaderNames(), (std::vector<std::string>{"Host", "User-Agent", "Accept",
                                                           "Referer", "Accept-Language"}));
    EXPECT_EQ(got.Header("User-Agent"), kAgent);
    EXPECT_EQ(got.Header("Accept"), kAccept);
    EXPECT_EQ(got.Header("Referer"), url);
    EXPECT_EQ(got.Header("Accept-Language"), "zh-cn");

    std::string upper = "HTTP://127.0.0.1/";
    WebAccess(upper, {.timeoutSeconds = 3});
    EXPECT_EQ(upper, "http://HTTP://127.0.0.1/");

    std::string blank = " \xA1\xA1 ";
    EXPECT_EQ(WebAccess(blank), "");
    EXPECT_EQ(blank, " \xA1\xA1 ");
}

TEST_F(WebAccessTest, PostWithOwnAgentCookiesAndNoReferer) {
    http::CookieStore::Global().Set(server.Url(), "stored=1");
    std::string url = server.Url("/form");
    WebAccess(url, {.method = 1,
                    .extraHeaders = "User-Agent: Mine/1\r\nRefererNo\r\n",
                    .postBytes = std::string("a=1\0z", 5),
                    .cookies = "k=v; j=w"});
    const ReceivedRequest got = server.Requests().at(0);
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.body, std::string("a=1\0z", 5));
    EXPECT_EQ(got.HeaderNames(),
              (std::vector<std::string>{"Host", "User-Agent", "Accept", "Accept-Language",
                                        "Content-Type", "Content-Length", "Cookie"}));
    EXPECT_EQ(got.Header("User-Agent"), "Mine/1");
    EXPECT_EQ(got.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(got.Header("Content-Length"), "5");
    // The caller's cookies replace the store's, which is left alone.
    EXPECT_EQ(got.Header("Cookie"), "k=v; j=w");
    EXPECT_EQ(got.raw.find("RefererNo"), std::string::npos);
}

TEST_F(WebAccessTest, CookiesSetByTheResponse) {
    SetReply(LoopbackHttpServer::Response(
        200, "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2; HttpOnly\r\nSet-Cookie: novalue\r\n",
        ""));
    std::string url = server.Url("/c");
    std::string headers;
    std::string cookies = "old";
    WebAccess(url, {.responseHeaders = &headers, .newCookies = &cookies});
    EXPECT_EQ(cookies, "a=1;b=2;;");
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_TRUE(headers.ends_with("\r\n\r\n"));
    // The session's own cookie handling keeps the nameless one as well.
    EXPECT_EQ(http::CookieStore::Global().CookieHeaderFor(server.Url()), "a=1; b=2; novalue");

    // Without cookies of its own a request carries the store's.
    WebAccess(url);
    EXPECT_EQ(server.Requests().at(1).Header("Cookie"), "a=1; b=2; novalue");
}

TEST_F(WebAccessTest, RedirectSwitchProxyAndSecurePort) {
    std::string url = server.Url("/from");
    EXPECT_EQ(WebAccess(url), "page");
    EXPECT_EQ(WebAccess(url, {.allowRedirect = false}), "3xx");
    EXPECT_EQ(server.RequestCount(), 3u);

    LoopbackHttpServer proxy([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", "proxied"));
    });
    std::string far = "http://far.example:81/x";
    EXPECT_EQ(WebAccess(far, {.proxy = "127.0.0.1:" + std::to_string(proxy.Port())}), "proxied");
    EXPECT_EQ(proxy.Requests().at(0).target, far);

    // https goes to 443 whatever port the URL names; nothing listens there.
    std::string secure = "https://127.0.0.1:" + std::to_string(server.Port()) + "/";
    EXPECT_EQ(WebAccess(secure, {.timeoutSeconds = 5}), "");
    EXPECT_EQ(server.ConnectionCount(), 3u);

    // The system's proxy is not this routine's: without its argument it goes direct.
    vm::testing::ForwardingProxy system;
    ::setenv("http_proxy", system.Address().c_str(), 1);
    std::string forum = vm::testing::ForumUrl(server, "/");
    EXPECT_EQ(WebAccess(forum), "");
    std::string viaArgument = forum;
    EXPECT_EQ(WebAccess(viaArgument, {.proxy = system.Address()}), "page");
    ::unsetenv("http_proxy");
    EXPECT_EQ(system.Requests().size(), 1u);
}

TEST_F(WebAccessTest, LongHeadersLargeBodiesAndFailures) {
    const std::string big(3 * 1024 * 1024 + 5, 'x');
    SetReply(LoopbackHttpServer::Response(
        200, "X-Big: " + std::string(3000, 'h') + "\r\nSet-Cookie: c=1\r\n", big));
    std::string url = server.Url("/big");
    std::string headers;
    std::string cookies = "old";
    EXPECT_EQ(WebAccess(url, {.responseHeaders = &headers, .newCookies = &cookies}), big);
    EXPECT_EQ(headers, std::string(2048, ' '));
    EXPECT_EQ(cookies, "");

    // A refused connection: no body, and the header buffer as it was.
    std::string refused = "http://127.0.0.1:" + std::to_string(vm::testing::ClosedPort()) + "/";
    EXPECT_EQ(WebAccess(refused, {.responseHeaders = &headers}), "");
    EXPECT_EQ(headers, std::string(2048, ' '));

    // Malformed addresses: no host to connect to; blanks and GBK bytes in the path are escaped.
    std::string noHost = "http://";
    EXPECT_EQ(WebAccess(noHost), "");
    std::string odd = server.Url("/a b\xD6\xD0");
    EXPECT_EQ(WebAccess(odd, {.timeoutSeconds = 5}), big);
    EXPECT_EQ(server.Requests().back().target, "/a%20b%D6%D0");

    // A session that cannot open returns nothing, and nothing for the out parameters either.
    headers = cookies = "old";
    EXPECT_EQ(WebAccess(url, {.proxy = " ", .responseHeaders = &headers, .newCookies = &cookies}),
              "");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(cookies, "");
}

TEST_F(WebAccessTest, BodyConversions) {
    struct Case {
        int mode;
        std::string body;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {0, "\xE4\xB8\xAD\xFF", "\xE4\xB8\xAD\xFF"},
        {1, "\xE4\xB8\xAD\xE6\x96\x87", "中文"},
        {1,
         "a\xE4\xB8\xAD\xFF"
         "b",
         "a中?b"},
        {1, std::string("ab\0cd", 5), "ab"},
        {2, "\xA4\xA4\xA4\xE5", "中文"},
        {2, "x\xA4\xA4\xFF\xFFy\xA4", "x中??y"},
    };
    for (const Case& c : cases) {
        SetReply(LoopbackHttpServer::Response(200, "", c.body));
        std::string url = server.Url("/text");
        EXPECT_EQ(WebAccess(url, {.decodeMode = c.mode}), c.expected) << c.mode << " " << c.body;
    }
}

TEST_F(WebAccessTest, DeadlineReturnsAtOnceAndLeavesNoThread) {
    int pumped = 0;
    kernel::SetMessagePump([&](int maxWaitMs) {
        ++pumped;
        std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs));
    });
    for (const char* path : {"/stall", "/half"}) {
        const int threadsBefore = vm::testing::ThreadCount();
        const std::size_t connectionsBefore = server.ConnectionCount();
        std::string url = server.Url(path);
        std::string headers = "untouched";
        const Clock::time_point start = Clock::now();
        const std::string result =
            WebAccess(url, {.timeoutSeconds = 1, .responseHeaders = &headers, .decodeMode = 1});
        const long long elapsed = MsSince(start);
        EXPECT_EQ(result, WebAccessTimeoutMessage()) << path;
        EXPECT_EQ(headers, "untouched");
        EXPECT_GE(elapsed, 990) << path;
        // The caller is due back at the deadline; sanitizers and a shared CI machine get slack.
        EXPECT_LT(elapsed, 1000 + 300) << path;
        std::cout << path << ": back after " << elapsed << " ms\n";
        // Only the server's thread for the stalled connection remains.
        EXPECT_EQ(vm::testing::ThreadCount(),
                  threadsBefore + static_cast<int>(server.ConnectionCount() - connectionsBefore))
            << path;
    }
    EXPECT_GT(pumped, 10);
    kernel::SetMessagePump({});

    // A deadline of 0 has passed before the worker can answer.
    std::string url = server.Url("/fast");
    EXPECT_EQ(WebAccess(url, {.timeoutSeconds = 0}), WebAccessTimeoutMessage());
}

} // namespace
} // namespace vm::net
