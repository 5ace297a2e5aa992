// Cookies with an expiry outlive the run: one process (this test binary started again) meets
// the forum, the next one (this process) sends the forum's kept cookie with the request object.
// The first run is a process of its own, not a fork: a fork of this threaded process could
// inherit a lock some other thread held, and hang.

#include "net/WebAccess.h"
#include "net/WinHttpFetch.h"
#include "platform/http/CookieStore.h"
#include "platform/http/RequestObject.h"
#include "support/LoopbackHttp.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vm::net {
namespace {

using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;

constexpr const char* kFirstRunFile = "VM_KEPT_COOKIES_FILE";
constexpr const char* kFirstRunForum = "VM_KEPT_COOKIES_FORUM";

// The first of the two runs: only when the test below starts it.
TEST(KeptCookies, FirstRunMeetsTheForum) {
    const char* file = std::getenv(kFirstRunFile);
    const char* forum = std::getenv(kFirstRunForum);
    if (file == nullptr || forum == nullptr)
        GTEST_SKIP() << "the first run of AForumCookieWithAnExpiryIsSentInTheNextRun";
    http::InstallHttpClasses();
    http::CookieStore::Global().KeepIn(file);
    std::string login = std::string(forum) + "/login";
    EXPECT_EQ(WebAccess(login), "welcome");
    EXPECT_EQ(http::CookieStore::Global().All().size(), 2u);
}

TEST(KeptCookies, AForumCookieWithAnExpiryIsSentInTheNextRun) {
    http::InstallHttpClasses();
    LoopbackHttpServer forum([](const ReceivedRequest& request, HttpPeer& peer) {
        if (request.target == "/login")
            peer.Send(LoopbackHttpServer::Response(
                200,
                "Set-Cookie: sid=abc; Expires=Wed, 09 Jun 2100 10:18:14 GMT; Path=/; "
                "Domain=.vm.localhost\r\n"
                "Set-Cookie: visit=1; Path=/\r\n",
                "welcome"));
        else
            peer.Send(LoopbackHttpServer::Response(200, "", "info"));
    });
    const vm::testing::TempFolder folder("vm-kept-cookies");
    const std::string file = folder.windowsPath() + "Cookies.txt";
    const std::string base = "http://www.vm.localhost:" + std::to_string(forum.Port());

    ::setenv(kFirstRunFile, file.c_str(), 1);
    ::setenv(kFirstRunForum, base.c_str(), 1);
    const int firstRun = vm::testing::RunProgram(
        {"/proc/self/exe", "--gtest_filter=KeptCookies.FirstRunMeetsTheForum"});
    ::unsetenv(kFirstRunFile);
    ::unsetenv(kFirstRunForum);
    ASSERT_EQ(firstRun, 0);

    http::CookieStore::Global().Clear();
    EXPECT_EQ(http::CookieStore::Global().KeepIn(file), 1u);
    std::string cookies;
    EXPECT_EQ(WinHttpFetch(base + "/info", {.cookies = &cookies}), "info");
    EXPECT_EQ(forum.Requests().back().Header("Cookie"), "sid=abc;");
    // Written back by the routine without an expiry, the kept cookie stays kept.
    ASSERT_EQ(http::CookieStore::Global().All().size(), 1u);
    EXPECT_TRUE(http::CookieStore::Global().All().at(0).expires.has_value());
    http::CookieStore::Global().KeepIn(""); // the folder goes; later tests keep nothing
    http::CookieStore::Global().Clear();
}

} // namespace
} // namespace vm::net
