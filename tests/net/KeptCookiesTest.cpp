// Cookies with an expiry outlive the run: one process (a forked child) meets the forum, the
// next one (this process) sends the forum's kept cookie with the request object.

#include "net/WebAccess.h"
#include "net/WinHttpFetch.h"
#include "platform/http/CookieStore.h"
#include "platform/http/RequestObject.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vm::net {
namespace {

using vm::testing::HttpPeer;
using vm::testing::LoopbackHttpServer;
using vm::testing::ReceivedRequest;

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

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        http::CookieStore::Global().KeepIn(file);
        std::string login = base + "/login";
        const bool welcomed = WebAccess(login) == "welcome";
        _exit(welcomed && http::CookieStore::Global().All().size() == 2 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

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
