// The loopback relay of the Flash player, asked as the player asks it and as others might.

#include "platform/player/MovieRelay.h"
#include "platform/http/Transfer.h"
#include "platform/player/PlayerPage.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace vm::player {
namespace {

using testing::LoopbackHttpServer;

struct Answer {
    int status = 0;
    std::string headers;
    std::string body;
    bool ok = false;
};

Answer Ask(const std::string& url, const std::string& method = "GET",
           std::vector<std::string> headers = {}) {
    http::OutgoingRequest outgoing;
    outgoing.url = url;
    outgoing.method = method;
    outgoing.headers = std::move(headers);
    http::RedirectPolicy noRedirects;
    noRedirects.follow = false;
    http::Exchange exchange(outgoing, noRedirects, nullptr);
    Answer answer;
    if (!exchange.AwaitHeaders() || exchange.Response() == nullptr)
        return answer;
    answer.status = exchange.Response()->Status();
    answer.headers = exchange.Response()->HeaderBlock();
    answer.ok = exchange.ReadAll(answer.body);
    return answer;
}

class MovieRelayTest : public ::testing::Test {
protected:
    MovieRelayTest() {
        testing::WriteBytes(folder / "ruffle.js", "/* player */");
        testing::WriteBytes(folder / "core.js", "core();");
        testing::WriteBytes(folder / "a1.wasm", std::string("\0asm", 4));
        testing::WriteBytes(folder / "ruffle.js.map", "{}");
        testing::WriteBytes(folder.path().parent_path() / "vm-relay-outside.js", "outside");
    }
    ~MovieRelayTest() override {
        std::filesystem::remove(folder.path().parent_path() / "vm-relay-outside.js");
    }

    std::vector<std::string> Targets() {
        std::vector<std::string> targets;
        for (const auto& request : site.Requests())
            targets.push_back(request.target);
        return targets;
    }

    testing::TempFolder folder{"vm-player"};
    LoopbackHttpServer site{[](const testing::ReceivedRequest& request, testing::HttpPeer& peer) {
        if (request.target.starts_with("/missing"))
            return peer.Send(LoopbackHttpServer::Response(404, "", "no"));
        peer.Send(LoopbackHttpServer::Response(
            200, "Content-Type: application/x-shockwave-flash\r\n", "FWS-movie"));
    }};
};

TEST_F(MovieRelayTest, RelaysTheMovieSiteAndServesThePlayerFiles) {
    MovieRelay relay(folder.path().string(), site.Url("/v/movie.swf"));
    ASSERT_GT(relay.Port(), 0);
    const std::string base = relay.Base();
    ASSERT_EQ(base.rfind("http://127.0.0.1:" + std::to_string(relay.Port()) + "/", 0), 0u);

    const Answer movie = Ask(base + "fetch/" + site.Url("/v/movie.swf?b=2&a=1&a=%2F"));
    EXPECT_EQ(movie.status, 200);
    EXPECT_EQ(movie.body, "FWS-movie");
    EXPECT_EQ(http::HeaderValue(movie.headers, "Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(http::HeaderValue(movie.headers, "Content-Type"), "application/x-shockwave-flash");
    // The movie's own loads on its site go the same way; the query arrives as written.
    EXPECT_EQ(Ask(base + "fetch/" + site.Url("/missing.flv")).status, 404);
    EXPECT_EQ(Targets(), (std::vector<std::string>{"/v/movie.swf?b=2&a=1&a=%2F", "/missing.flv"}));
    EXPECT_EQ(relay.Fetches(), 2);

    EXPECT_EQ(Ask(base + "player/core.js").body, "core();");
    const Answer wasm = Ask(base + "player/a1.wasm");
    EXPECT_EQ(http::HeaderValue(wasm.headers, "Content-Type"), "application/wasm");
    EXPECT_EQ(wasm.body.size(), 4u);
}

TEST_F(MovieRelayTest, RefusesEverythingElse) {
    MovieRelay relay(folder.path().string(), site.Url("/movie.swf"));
    ASSERT_GT(relay.Port(), 0);
    const std::string base = relay.Base();
    const std::string root = "http://127.0.0.1:" + std::to_string(relay.Port()) + "/";
    const std::string token = base.substr(root.size(), base.size() - root.size() - 1);
    EXPECT_EQ(token.size(), 32u);
    EXPECT_NE(MovieRelay(folder.path().string(), site.Url("/movie.swf")).Base().substr(root.size()),
              base.substr(root.size()));

    // Without the token, with another one, or one character short.
    EXPECT_EQ(Ask(root + "fetch/" + site.Url("/movie.swf")).status, 404);
    EXPECT_EQ(Ask(root + std::string(32, '0') + "/player/core.js").status, 404);
    EXPECT_EQ(Ask(root + token.substr(1) + "/player/core.js").status, 404);
    // GET only.
    EXPECT_EQ(Ask(base + "player/core.js", "POST").status, 405);
    EXPECT_EQ(Ask(base + "fetch/" + site.Url("/movie.swf"), "PUT").status, 405);
    // A page of the web that reached the relay through a name of its own.
    EXPECT_EQ(Ask(base + "player/core.js", "GET", {"Host: attacker.example:80"}).status, 403);
    // Other schemes, other sites, an address that only looks like the site.
    for (const std::string& target :
         {std::string("file:///etc/passwd"), std::string("ftp://127.0.0.1/x"),
          std::string("gopher://127.0.0.1:70/"),
          "http://127.0.0.2:" + std::to_string(site.Port()) + "/movie.swf",
          "http://127.0.0.1:" + std::to_string(site.Port() + 1) + "/movie.swf",
          "http://127.0.0.1:" + std::to_string(site.Port()) + "@127.0.0.2/x", std::string("")})
        EXPECT_EQ(Ask(base + "fetch/" + target).status, 403) << target;
    EXPECT_TRUE(site.Requests().empty());
    EXPECT_EQ(relay.Fetches(), 0);
    // Only the player's scripts and builds, and nothing beside its folder.
    for (const char* name :
         {"ruffle.js.map", "../vm-relay-outside.js", "%2e%2e/vm-relay-outside.js", "none.js", ""})
        EXPECT_EQ(Ask(base + "player/" + std::string(name)).status, 404) << name;
}

TEST_F(MovieRelayTest, EndsWithItsOwnerEvenWhileAFetchStalls) {
    LoopbackHttpServer stalling(
        [](const testing::ReceivedRequest&, testing::HttpPeer& peer) { peer.Stall(30000); });
    std::optional<MovieRelay> relay;
    relay.emplace(folder.path().string(), stalling.Url("/movie.swf"));
    const std::string base = relay->Base();
    std::thread asker([&] { Ask(base + "fetch/" + stalling.Url("/movie.swf")); });
    while (stalling.RequestCount() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    relay.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    asker.join();
    // Gone: nothing listens at its address any more.
    EXPECT_EQ(Ask(base + "player/core.js").status, 0);
}

TEST(PlayerPage, ConfiguresThePlayerAndKeepsTextsInsideTheirStrings) {
    const std::string script =
        PageScript("http://127.0.0.1:1/t/", "/*player*/", "</script><b>\"quoted\"\\", 500);
    EXPECT_NE(script.find("publicPath: \"http://127.0.0.1:1/t/player/\""), std::string::npos);
    EXPECT_NE(script.find("autoplay: \"on\""), std::string::npos);
    EXPECT_NE(script.find("unmuteOverlay: \"hidden\""), std::string::npos);
    EXPECT_NE(script.find("\"http://127.0.0.1:1/t/fetch/$1\""), std::string::npos);
    EXPECT_NE(script.find("/*player*/"), std::string::npos);
    EXPECT_NE(script.find("\"<\\/script><b>\\\"quoted\\\"\\\\\""), std::string::npos);
    EXPECT_EQ(script.find("</script>"), std::string::npos);

    testing::TempFolder empty{"vm-no-player"};
    setenv("VM_PLAYER_DIR", empty.path().c_str(), 1);
    EXPECT_EQ(PlayerFolder(), "");
    testing::WriteBytes(empty / "ruffle.js", "x");
    EXPECT_EQ(PlayerFolder(), empty.path().string());
    EXPECT_EQ(PlayerScriptOf(PlayerFolder()), "x");
    unsetenv("VM_PLAYER_DIR");
}

} // namespace
} // namespace vm::player
