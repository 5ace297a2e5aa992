#include "platform/http/RequestObject.h"
#include "platform/automation/Com.h"
#include "platform/http/Transfers.h"
#include "platform/text/Codepage.h"
#include "support/LoopbackHttp.h"

#include <gtest/gtest.h>
#include <thread>

namespace vm::http {
namespace {

using automation::Object;
using automation::Variant;
using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;
using Clock = std::chrono::steady_clock;

std::string Utf8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class RequestObjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallHttpClasses();
        automation::CoInitialize();
    }
    void TearDown() override {
        ResumeTransfers(); // whatever a test left stopped
        automation::CoUninitialize();
    }

    static Object Create(const char* progId = "WinHttp.WinHttpRequest.5.1") {
        return automation::CreateObject(progId);
    }
};

TEST_F(RequestObjectTest, EveryProgIdCreatesAWorkingObject) {
    LoopbackHttpServer server([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", "hello"));
    });
    for (const char* progId :
         {"WinHttp.WinHttpRequest.5.1", "MSXML2.ServerXMLHTTP.6.0", "msxml2.serverxmlhttp.5.0"}) {
        const Object request = Create(progId);
        ASSERT_FALSE(request.IsNull()) << progId;
        request.Call("open", {Variant("GET"), Variant(server.Url("/x")), Variant(false)});
        request.Call("send");
        EXPECT_EQ(request.GetInt("status"), 200) << progId;
        EXPECT_EQ(request.GetText("responseText"), "hello") << progId;
    }
}

TEST_F(RequestObjectTest, HeadersGoOutInTheOrderTheyWereSet) {
    LoopbackHttpServer server([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "X-Reply: 1\r\n", "ok"));
    });
    const Object request = Create();
    request.Call("Open", {Variant("GET"), Variant(server.Url("/p?q=1")), Variant(false)});
    request.Call("SetRequestHeader", {Variant("Referer"), Variant(" http://r.example/")});
    request.Call("SetRequestHeader", {Variant("Accept-Language"), Variant("zh-cn")});
    request.Call("SetRequestHeader", {Variant("User-Agent"), Variant("Agent/1")});
    request.Call("SetRequestHeader", {Variant("Accept-Language"), Variant("en")});
    request.Call("Send");
    ASSERT_EQ(automation::LastCallError(), 0) << automation::LastCallException();

    const ReceivedRequest got = server.Requests().at(0);
    EXPECT_EQ(got.method, "GET");
    EXPECT_EQ(got.target, "/p?q=1");
    EXPECT_EQ(got.HeaderNames(), (std::vector<std::string>{"Host", "Accept", "Referer",
                                                           "User-Agent", "Accept-Language"}));
    EXPECT_EQ(got.Header("Referer"), "http://r.example/");
    EXPECT_EQ(got.Header("Accept"), "*/*");
    EXPECT_EQ(got.Header("Accept-Language"), "en"); // a second value replaced the first

    const std::string all = request.CallText("GetAllResponseHeaders");
    EXPECT_EQ(all.rfind("HTTP/", 0), std::string::npos); // no status line
    EXPECT_NE(all.find("X-Reply: 1\r\n"), std::string::npos);
    EXPECT_TRUE(all.ends_with("\r\n\r\n"));
    EXPECT_EQ(request.CallText("GetResponseHeader", {Variant("x-reply")}), "1");
    EXPECT_EQ(request.GetText("StatusText"), "OK");
}

TEST_F(RequestObjectTest, DefaultAgentAndOptionReadBack) {
    LoopbackHttpServer server([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", ""));
    });
    const Object request = Create();
    EXPECT_TRUE(request.GetBool("Option", {Variant(6)}));
    request.Call("Open", {Variant("GET"), Variant(server.Url()), Variant(false)});
    request.Call("Send");
    EXPECT_EQ(server.Requests().at(0).Header("User-Agent"),
              "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)");
    EXPECT_EQ(request.GetText("Option", {Variant(1)}), server.Url());
    EXPECT_FALSE(request.Put("Option", Variant(1), {Variant(1)})); // the URL is read only
}

TEST_F(RequestObjectTest, BodiesAsTextAndAsBytes) {
    LoopbackHttpServer server([](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", "done"));
    });
    const Object request = Create();
    // A text body goes out as UTF-8.
    request.Call("Open", {Variant("POST"), Variant(server.Url("/t")), Variant(false)});
    request.Call("Send", {Variant(text::Gbk(u8"a=1&b=中"))});
    // A byte array goes out byte for byte, zero bytes included.
    const automation::Bytes bytes = {'x', 0, 0xFF, 0xD6, 0xD0};
    request.Call("Open", {Variant("PUT"), Variant(server.Url("/b")), Variant(false)});
    request.Call("SetRequestHeader",
                 {Variant("Content-Type"), Variant("application/octet-stream")});
    request.Call("Send", {Variant(bytes)});

    const auto got = server.Requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].method, "POST");
    EXPECT_EQ(got[0].body, Utf8(u8"a=1&b=中"));
    EXPECT_EQ(got[0].Header("Content-Type"), "text/plain; Charset=UTF-8");
    EXPECT_EQ(got[1].method, "PUT");
    EXPECT_EQ(got[1].body, std::string("x\0\xFF\xD6\xD0", 5));
    EXPECT_EQ(got[1].Header("Content-Length"), "5");
    EXPECT_FALSE(got[1].HasHeader("Expect"));
}

TEST_F(RequestObjectTest, RedirectsFollowedOrNot) {
    LoopbackHttpServer server([](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/from")
            peer.Send(LoopbackHttpServer::Response(
                302, "Location: /to\r\nSet-Cookie: hop=1; Path=/\r\n", "moved"));
        else if (request.target == "/loop")
            peer.Send(LoopbackHttpServer::Response(302, "Location: /loop\r\n", ""));
        else
            peer.Send(LoopbackHttpServer::Response(200, "", "arrived"));
    });
    const Object request = Create();
    request.Call("Open", {Variant("POST"), Variant(server.Url("/from")), Variant(false)});
    request.Call("Send", {Variant("k=v")});
    EXPECT_EQ(request.GetText("ResponseText"), "arrived");
    auto got = server.Requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].method, "GET"); // a 302 after a POST goes on as a GET without the body
    EXPECT_EQ(got[1].body, "");
    EXPECT_EQ(got[1].Header("Cookie"), "hop=1"); // the redirect's cookie rides along

    request.Call("Open", {Variant("GET"), Variant(server.Url("/from")), Variant(false)});
    EXPECT_TRUE(request.Put("Option", Variant(0), {Variant(6)}));
    request.Call("Send");
    EXPECT_EQ(request.GetInt("Status"), 302);
    EXPECT_EQ(request.GetText("ResponseText"), "moved");
    EXPECT_EQ(server.RequestCount(), 3u);

    // A redirect loop ends after ten hops with a failure and no body.
    request.Call("Open", {Variant("GET"), Variant(server.Url("/loop")), Variant(false)});
    request.Put("Option", Variant(true), {Variant(6)});
    request.Call("Send");
    EXPECT_EQ(automation::LastCallError(), automation::kException);
    EXPECT_TRUE(request.Get("ResponseBody").IsEmpty());
    EXPECT_EQ(server.RequestCount(), 3u + 11u);
}

TEST_F(RequestObjectTest, FailuresAreSilentAndLeaveNoResponse) {
    struct Case {
        std::string url;
        std::string exception;
    };
    const std::vector<Case> cases = {
        {"http://127.0.0.1:" + std::to_string(vm::testing::ClosedPort()) + "/",
         "A connection with the server could not be established"},
        {"http://no-such-host.invalid/", "The server name or address could not be resolved"},
    };
    for (const Case& c : cases) {
        const Object request = Create();
        request.Call("SetTimeouts", {Variant(3000), Variant(3000), Variant(3000), Variant(3000)});
        request.Call("Open", {Variant("GET"), Variant(c.url), Variant(false)});
        request.Call("Send");
        // A resolver without a network may give up by timing out instead.
        if (automation::LastCallException() != "The operation timed out") {
            EXPECT_EQ(automation::LastCallException(), c.exception) << c.url;
        }
        EXPECT_TRUE(request.Get("ResponseBody").IsEmpty());
        EXPECT_EQ(automation::LastCallError(), automation::kException);
        EXPECT_EQ(request.CallText("GetAllResponseHeaders"), "");
    }

    const Object request = Create();
    request.Call("Send");
    EXPECT_EQ(automation::LastCallError(), automation::kException); // before Open
    request.Call("Open", {Variant("GET"), Variant("ftp://example.com/"), Variant(false)});
    EXPECT_EQ(automation::LastCallError(), automation::kException);
    request.Call("Open", {Variant("GET"), Variant("http:///path"), Variant(false)});
    EXPECT_EQ(automation::LastCallError(), automation::kException);
    request.Call("SetTimeouts", {Variant(-2), Variant(0), Variant(0), Variant(0)});
    EXPECT_NE(automation::LastCallError(), 0);
}

TEST_F(RequestObjectTest, TimeoutsApplyPerPhase) {
    // The receive limit is an idle time: a slow but steady body is not cut off.
    LoopbackHttpServer server([](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/stall") {
            peer.Stall(5000);
        } else {
            peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");
            for (const char c : std::string("slow")) {
                peer.Stall(300);
                peer.Send(std::string(1, c));
            }
        }
    });
    const Object request = Create();
    request.Call("SetTimeouts", {Variant(0), Variant(2000), Variant(2000), Variant(800)});
    request.Call("Open", {Variant("GET"), Variant(server.Url("/slow")), Variant(false)});
    request.Call("Send");
    EXPECT_EQ(request.GetText("ResponseText"), "slow");

    request.Call("Open", {Variant("GET"), Variant(server.Url("/stall")), Variant(false)});
    auto start = Clock::now();
    request.Call("Send");
    EXPECT_EQ(automation::LastCallException(), "The operation timed out");
    EXPECT_GE(MsSince(start), 700);
    EXPECT_LT(MsSince(start), 3000);

    // A connect that never completes ends at the connect limit.
    const vm::testing::UnansweredPort unanswered;
    request.Call("SetTimeouts", {Variant(0), Variant(600), Variant(5000), Variant(5000)});
    request.Call("Open", {Variant("GET"),
                          Variant("http://127.0.0.1:" + std::to_string(unanswered.Port()) + "/"),
                          Variant(false)});
    start = Clock::now();
    request.Call("Send");
    EXPECT_EQ(automation::LastCallException(), "The operation timed out");
    EXPECT_GE(MsSince(start), 500);
    EXPECT_LT(MsSince(start), 3000);
}

TEST_F(RequestObjectTest, StoppingAllTransfersEndsRequestsOnOtherThreadsAsFailures) {
    // One request stalls before its headers, one in the middle of its body. Their limits are
    // far beyond what the stop may take, yet bounded, so that a fault fails instead of hanging.
    LoopbackHttpServer server([](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/ok") {
            peer.Send(LoopbackHttpServer::Response(200, "", "fine"));
            return;
        }
        if (request.target == "/body")
            peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
        peer.Stall(20000);
    });
    struct Outcome {
        std::string exception;
        bool answered = true;
        Clock::time_point ended;
    };
    const auto send = [&server](const std::string& target, Outcome& outcome) {
        automation::CoInitialize();
        {
            const Object request = Create();
            const Variant limit(8000);
            request.Call("SetTimeouts", {limit, limit, limit, limit});
            request.Call("Open", {Variant("GET"), Variant(server.Url(target)), Variant(false)});
            request.Call("Send");
            outcome.exception = automation::LastCallException();
            outcome.ended = Clock::now();
            outcome.answered = !request.Get("ResponseBody").IsEmpty();
        }
        automation::CoUninitialize();
    };
    Outcome head, body;
    std::thread first(send, "/head", std::ref(head));
    std::thread second(send, "/body", std::ref(body));
    for (const Clock::time_point start = Clock::now();
         server.RequestCount() < 2 && MsSince(start) < 5000;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the body's first bytes land
    EXPECT_EQ(server.RequestCount(), 2u);

    const Clock::time_point stopped = Clock::now();
    StopAllTransfers();
    first.join();
    second.join();
    for (const Outcome* outcome : {&head, &body}) {
        EXPECT_EQ(outcome->exception, "The operation has been canceled");
        EXPECT_FALSE(outcome->answered); // no part of a body passes for the answer
        EXPECT_LT(
            std::chrono::duration_cast<std::chrono::milliseconds>(outcome->ended - stopped).count(),
            500);
    }

    // A request made after the stop fails before it reaches the server; a resumed one runs.
    EXPECT_TRUE(TransfersStopped());
    const Object request = Create();
    request.Call("Open", {Variant("GET"), Variant(server.Url("/ok")), Variant(false)});
    request.Call("Send");
    EXPECT_EQ(automation::LastCallException(), "The operation has been canceled");
    EXPECT_EQ(server.RequestCount(), 2u);
    ResumeTransfers();
    request.Call("Send");
    EXPECT_EQ(automation::LastCallError(), 0);
    EXPECT_EQ(request.GetText("ResponseText"), "fine");
}

TEST_F(RequestObjectTest, ProxyAndLargeBodies) {
    const std::string big(5 * 1024 * 1024 + 17, 'b');
    LoopbackHttpServer proxy([&](const ReceivedRequest&, HttpPeer& peer) {
        peer.Send(LoopbackHttpServer::Response(200, "", big));
    });
    const Object request = Create();
    request.Call("SetProxy", {Variant(2), Variant("127.0.0.1:" + std::to_string(proxy.Port()))});
    request.Call("Open", {Variant("GET"), Variant("http://far.example/file?x=1"), Variant(false)});
    request.Call("Send");
    const Variant body = request.Get("ResponseBody");
    ASSERT_EQ(body.Type(), automation::VT_BYTES);
    EXPECT_EQ(body.ByteArray().size(), big.size());
    EXPECT_EQ(proxy.Requests().at(0).target, "http://far.example/file?x=1");
    EXPECT_EQ(proxy.Requests().at(0).Header("Host"), "far.example");
}

} // namespace
} // namespace vm::http
