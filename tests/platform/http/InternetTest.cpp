#include "platform/http/Internet.h"
#include "platform/http/CookieStore.h"
#include "support/LoopbackHttp.h"

#include <future>
#include <gtest/gtest.h>
#include <iostream>

namespace vm::http {
namespace {

using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;
using Clock = std::chrono::steady_clock;

struct Session {
    HInternet internet = 0;
    HInternet connection = 0;
    HInternet request = 0;
    ~Session() {
        if (internet)
            InternetCloseHandle(internet);
    }
};

Session Open(int port, std::string_view object, std::uint32_t flags, std::string_view proxy = "",
             std::string_view verb = "GET") {
    Session s;
    s.internet = InternetOpen("Agent/2",
                              proxy.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                              proxy, "", 0);
    s.connection =
        InternetConnect(s.internet, "127.0.0.1", port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    s.request = HttpOpenRequest(s.connection, verb, object, "HTTP/1.1", "", {}, flags, 0);
    return s;
}

std::string ReadBody(HInternet request, std::vector<std::uint32_t>* blocks = nullptr) {
    std::string body;
    char block[2048];
    std::uint32_t n = 0;
    while (InternetReadFile(request, block, sizeof block, &n) && n > 0) {
        body.append(block, n);
        if (blocks)
            blocks->push_back(n);
    }
    return body;
}

std::string RawHeaders(HInternet request, std::uint32_t size = 8192) {
    std::string buffer(size, ' ');
    std::uint32_t length = size;
    if (!HttpQueryInfo(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length, nullptr))
        return {};
    buffer.resize(length);
    return buffer;
}

class InternetTest : public ::testing::Test {
protected:
    void SetUp() override { CookieStore::Global().Clear(); }
    void TearDown() override { CookieStore::Global().Clear(); }
};

TEST_F(InternetTest, HeadersBodyBlocksAndRawHeaders) {
    const std::string body(100000, 'z');
    LoopbackHttpServer server([&](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "X-One: 1\r\n", body));
    });
    const Session s = Open(server.Port(), "/a b?q=1", INTERNET_FLAG_RELOAD);
    ASSERT_TRUE(
        HttpSendRequest(s.request, "X-First: 1\r\n\r\nnot a header\r\nX-Second: 2\r\n", ""));
    std::vector<std::uint32_t> blocks;
    EXPECT_EQ(ReadBody(s.request, &blocks), body);
    EXPECT_LE(*std::max_element(blocks.begin(), blocks.end()), 2048u);

    const ReceivedRequest got = server.Requests().at(0);
    EXPECT_EQ(got.target, "/a%20b?q=1");
    EXPECT_EQ(got.HeaderNames(),
              (std::vector<std::string>{"Host", "User-Agent", "X-First", "X-Second"}));
    EXPECT_EQ(got.Header("User-Agent"), "Agent/2");

    const std::string raw = RawHeaders(s.request);
    EXPECT_EQ(raw.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(raw.find("X-One: 1\r\n"), std::string::npos);
    EXPECT_TRUE(raw.ends_with("\r\n\r\n"));

    // Too small a buffer: refused, untouched, and told the size needed.
    std::string small(32, ' ');
    std::uint32_t length = 32;
    EXPECT_FALSE(
        HttpQueryInfo(s.request, HTTP_QUERY_RAW_HEADERS_CRLF, small.data(), &length, nullptr));
    EXPECT_EQ(InternetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, raw.size() + 1);
    EXPECT_EQ(small, std::string(32, ' '));

    std::uint32_t status = 0;
    length = sizeof status;
    EXPECT_TRUE(HttpQueryInfo(s.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                              &length, nullptr));
    EXPECT_EQ(status, 200u);
}

TEST_F(InternetTest, PostThroughAProxyForHttpOnly) {
    LoopbackHttpServer proxy([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", "via proxy"));
    });
    LoopbackHttpServer target([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", "direct"));
    });
    const std::string list = "http=127.0.0.1:" + std::to_string(proxy.Port());
    const Session s = Open(target.Port(), "/form", 0, list, "POST");
    ASSERT_TRUE(HttpSendRequest(s.request, "", std::string("a=1\0b", 5)));
    EXPECT_EQ(ReadBody(s.request), "via proxy");
    EXPECT_EQ(target.RequestCount(), 0u);
    const ReceivedRequest got = proxy.Requests().at(0);
    EXPECT_EQ(got.method, "POST");
    EXPECT_EQ(got.target, target.Url("/form"));
    EXPECT_EQ(got.body, std::string("a=1\0b", 5));
    EXPECT_FALSE(got.HasHeader("Content-Type")); // nothing is added that the caller did not ask for
    EXPECT_FALSE(got.HasHeader("Accept"));

    // A proxy named for https only leaves http requests direct.
    const Session d = Open(target.Port(), "/", 0, "https=127.0.0.1:1");
    ASSERT_TRUE(HttpSendRequest(d.request, "", ""));
    EXPECT_EQ(ReadBody(d.request), "direct");
}

TEST_F(InternetTest, RedirectSwitchAndCookieStore) {
    LoopbackHttpServer server([](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/from")
            peer.Send(
                LoopbackHttpServer::Response(302, "Location: /to\r\nSet-Cookie: r=1\r\n", "3xx"));
        else
            peer.Send(LoopbackHttpServer::Response(200, "Set-Cookie: s=2; Path=/\r\n", "final"));
    });
    CookieStore::Global().Set(server.Url(), "old=0");

    const Session follow = Open(server.Port(), "/from", 0);
    ASSERT_TRUE(HttpSendRequest(follow.request, "", ""));
    EXPECT_EQ(ReadBody(follow.request), "final");
    auto got = server.Requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Header("Cookie"), "old=0");
    EXPECT_EQ(got[1].Header("Cookie"), "old=0; r=1");
    EXPECT_EQ(CookieStore::Global().CookieHeaderFor(server.Url()), "old=0; r=1; s=2");

    CookieStore::Global().Clear();
    CookieStore::Global().Set(server.Url(), "old=0");
    const Session stay =
        Open(server.Port(), "/from", INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES);
    ASSERT_TRUE(HttpSendRequest(stay.request, "", ""));
    EXPECT_EQ(ReadBody(stay.request), "3xx");
    EXPECT_EQ(RawHeaders(stay.request).rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
    got = server.Requests();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_FALSE(got[2].HasHeader("Cookie"));
    EXPECT_EQ(CookieStore::Global().CookieHeaderFor(server.Url()), "old=0");
}

TEST_F(InternetTest, ClosingFromAnotherThreadCancelsAtOnce) {
    LoopbackHttpServer server([](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/body") {
            peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
        }
        peer.Stall(10000);
    });
    for (const char* object : {"/headers", "/body"}) {
        const Session s = Open(server.Port(), object, 0);
        auto worker = std::async(std::launch::async, [&] {
            const bool sent = HttpSendRequest(s.request, "", "");
            const std::string body = sent ? ReadBody(s.request) : "";
            return std::make_pair(body, InternetLastError());
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Clock::time_point closed = Clock::now();
        ASSERT_TRUE(InternetCloseHandle(s.internet));
        const auto [body, error] = worker.get();
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - closed).count();
        std::cout << object << ": blocked call returned " << us << " us after the close\n";
        EXPECT_LT(us, 50000) << object;
        EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED) << object;
        EXPECT_EQ(body, std::string(object) == "/body" ? "part" : "") << object;
        // Children went with their parent.
        std::uint32_t n = 0;
        char buffer[16];
        EXPECT_FALSE(InternetReadFile(s.request, buffer, sizeof buffer, &n));
        EXPECT_EQ(InternetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(InternetCloseHandle(s.connection));
    }
}

TEST_F(InternetTest, BadHandlesAndArguments) {
    EXPECT_EQ(InternetOpen("a", INTERNET_OPEN_TYPE_PROXY, "", "", 0), 0u);
    EXPECT_EQ(InternetLastError(), ERROR_INVALID_PARAMETER);
    const HInternet internet = InternetOpen("a", INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
    EXPECT_EQ(InternetConnect(internet, "", 80, "", "", INTERNET_SERVICE_HTTP, 0, 0), 0u);
    EXPECT_EQ(HttpOpenRequest(internet, "GET", "/", "", "", {}, 0, 0), 0u);
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    const HInternet connection =
        InternetConnect(internet, "127.0.0.1", vm::testing::ClosedPort(), "", "", 3, 0, 0);
    const HInternet request = HttpOpenRequest(connection, "", "", "", "", {}, 0, 0);
    std::uint32_t length = 16;
    char buffer[16];
    EXPECT_FALSE(HttpQueryInfo(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &length, nullptr));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    EXPECT_FALSE(HttpSendRequest(request, "", ""));
    EXPECT_EQ(InternetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    std::uint32_t n = 7;
    EXPECT_FALSE(InternetReadFile(request, buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(InternetCloseHandle(internet));
    EXPECT_FALSE(InternetCloseHandle(internet));
    EXPECT_EQ(InternetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace
} // namespace vm::http
