// The engine downloads through the system's proxy: the file's host resolves nowhere, and only
// the loopback proxy of the environment knows it.

#include "engine/platform/ResumableDownload.h"
#include "support/ForwardingProxy.h"
#include "support/TempFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace vm::engine {
namespace {

TEST(FetchProxy, TheEngineUsesTheEnvironmentsProxy) {
    const std::string body(70000, 'z');
    testing::LoopbackHttpServer files(
        [&](const testing::ReceivedRequest&, testing::HttpPeer& peer) {
            peer.Send(testing::LoopbackHttpServer::Response(200, "", body));
        });
    testing::ForwardingProxy proxy;
    ::setenv("http_proxy", proxy.Address().c_str(), 1);
    const testing::TempFolder folder("vm-fetch-proxy");
    const std::string url = testing::ForumUrl(files, "/files/a.rar");
    FetchLimits limits;
    limits.retryPauseMs = 10;
    limits.attemptsWithoutProgress = 1;
    ResumableDownload download({url, {}}, folder.windowsPath() + "a.rar", url, limits);
    const FetchOutcome outcome = download.Run([](const FetchProgress&) {});
    ::unsetenv("http_proxy");
    ASSERT_EQ(outcome.result, FetchResult::Complete) << static_cast<int>(outcome.error);
    EXPECT_EQ(testing::ReadBytes(folder / "a.rar"), body);
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests().at(0).target, url);
}

} // namespace
} // namespace vm::engine
