#include "platform/player/MovieRelay.h"

#include "platform/http/CookieStore.h"
#include "platform/http/Transfer.h"

#include <httplib.h>

#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <thread>

namespace vm::player {
namespace {

constexpr std::string_view kPlayerPrefix = "player/";
constexpr std::string_view kFetchPrefix = "fetch/";
constexpr std::size_t kChunk = 64 * 1024;
// Some sites answer nothing to a request without a browser's name.
constexpr std::string_view kUserAgent = "Mozilla/5.0 (X11; Linux x86_64) Vellumark";

std::string Token() {
    std::uint8_t bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0)
            got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (const std::uint8_t b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// A file of the player: a plain name of a script or a WebAssembly build.
std::string ContentTypeOfPlayerFile(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.find('/') != std::string_view::npos ||
        name.find('\\') != std::string_view::npos)
        return {};
    if (name.ends_with(".js"))
        return "text/javascript";
    if (name.ends_with(".wasm"))
        return "application/wasm";
    return {};
}

void Refuse(httplib::Response& response, int status) {
    response.status = status;
    response.set_content("", "text/plain");
}

} // namespace

struct MovieRelay::Handlers {
    // Everything that does not come as the page's player would ask is turned away before any
    // route runs.
    static httplib::Server::HandlerResponse
    Screen(MovieRelay& relay, const httplib::Request& request, httplib::Response& response) {
        if (request.method != "GET") {
            Refuse(response, 405);
            return httplib::Server::HandlerResponse::Handled;
        }
        // Another name for the loopback address would be a page of the web reaching us through
        // a name it controls.
        if (request.get_header_value("Host") != "127.0.0.1:" + std::to_string(relay.port_)) {
            Refuse(response, 403);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!Target(relay, request)) {
            Refuse(response, 404);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }

    // The request target after "/<token>/", as it came on the request line.
    static std::optional<std::string> Target(const MovieRelay& relay,
                                             const httplib::Request& request) {
        const std::string prefix = "/" + relay.token_ + "/";
        const std::string& raw = request.target.empty() ? request.path : request.target;
        if (raw.size() < prefix.size() || raw.compare(0, prefix.size(), prefix) != 0)
            return std::nullopt;
        return raw.substr(prefix.size());
    }

    static void Serve(MovieRelay& relay, const httplib::Request& request,
                      httplib::Response& response) {
        response.set_header("Access-Control-Allow-Origin", "*");
        response.set_header("Cache-Control", "no-store");
        const std::string target = Target(relay, request).value_or("");
        if (target.starts_with(kPlayerPrefix))
            return PlayerFile(relay, target.substr(kPlayerPrefix.size()), response);
        if (target.starts_with(kFetchPrefix))
            return Fetch(relay, Address(request, target.substr(kFetchPrefix.size())), response);
        Refuse(response, 404);
    }

    // The address to fetch: the rest of the target, with the query that came with it.
    static std::string Address(const httplib::Request& request, std::string rest) {
        if (!request.target.empty() || request.params.empty())
            return rest;
        // A library that gives no raw target has split the query off.
        std::string query;
        for (const auto& [name, value] : request.params)
            query += (query.empty() ? "" : "&") + httplib::detail::encode_query_param(name) + "=" +
                     httplib::detail::encode_query_param(value);
        return rest + "?" + query;
    }

    static void PlayerFile(MovieRelay& relay, const std::string& name,
                           httplib::Response& response) {
        const std::string type = ContentTypeOfPlayerFile(name);
        if (type.empty())
            return Refuse(response, 404);
        std::ifstream in(relay.playerFolder_ + "/" + name, std::ios::binary);
        if (!in)
            return Refuse(response, 404);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        response.set_content(bytes.str(), type.c_str());
    }

    static void Fetch(MovieRelay& relay, const std::string& address, httplib::Response& response) {
        if (relay.site_.empty() || SiteOf(address) != relay.site_)
            return Refuse(response, 403);
        http::OutgoingRequest outgoing;
        outgoing.url = address;
        outgoing.method = "GET";
        outgoing.userAgent = std::string(kUserAgent);
        // The movie is fetched as the request objects fetch: through the system's proxy.
        outgoing.systemProxy = true;
        auto exchange = std::make_shared<http::Exchange>(outgoing, http::RedirectPolicy{},
                                                         &http::CookieStore::Global());
        {
            std::lock_guard lock(relay.mutex_);
            if (relay.stopping_)
                return Refuse(response, 503);
            relay.inFlight_.insert(exchange);
        }
        ++relay.fetches_;
        auto release = [&relay, exchange](bool) {
            std::lock_guard lock(relay.mutex_);
            relay.inFlight_.erase(exchange);
        };
        if (!exchange->AwaitHeaders() || exchange->Response() == nullptr) {
            release(false);
            return Refuse(response, 502);
        }
        const http::Transfer& upstream = *exchange->Response();
        response.status = upstream.Status();
        std::string type = http::HeaderValue(upstream.HeaderBlock(), "Content-Type");
        if (type.empty())
            type = "application/octet-stream";
        response.set_chunked_content_provider(
            type,
            [exchange](std::size_t, httplib::DataSink& sink) {
                std::string buffer(kChunk, '\0');
                const std::size_t n =
                    exchange->Read(reinterpret_cast<std::uint8_t*>(buffer.data()), kChunk);
                if (n == 0) {
                    sink.done();
                    return true;
                }
                return sink.write(buffer.data(), n);
            },
            release);
    }
};

MovieRelay::MovieRelay(std::string playerFolder, std::string_view movie)
    : playerFolder_(std::move(playerFolder)), site_(SiteOf(movie)), token_(Token()),
      server_(std::make_unique<httplib::Server>()) {
    // One request a connection: an idle connection kept open would hold the end of the relay.
    server_->set_keep_alive_max_count(1);
    server_->set_read_timeout(10, 0);
    server_->set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return Handlers::Screen(*this, request, response);
        });
    server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Handlers::Serve(*this, request, response);
    });
    const int port = server_->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return;
    port_ = port;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
}

MovieRelay::~MovieRelay() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const auto& exchange : inFlight_)
            exchange->Cancel();
    }
    // The server ignores a stop that comes before its loop has started, and a relay can end
    // that soon (it is made and dropped as pages change): ask until the loop has gone.
    if (thread_.joinable()) {
        while (!listenEnded_) {
            server_->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        thread_.join();
    }
}

std::string MovieRelay::Base() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + token_ + "/";
}

std::string MovieRelay::SiteOf(std::string_view address) {
    const std::string lower = Lower(address);
    std::string scheme;
    if (lower.starts_with("http://"))
        scheme = "http";
    else if (lower.starts_with("https://"))
        scheme = "https";
    else
        return {};
    const std::size_t start = scheme.size() + 3;
    const std::size_t end = lower.find_first_of("/?#\\", start);
    std::string authority = lower.substr(start, end == std::string::npos ? end : end - start);
    // Credentials in front of the host never choose the site.
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    if (authority.empty() || authority.front() == ':')
        return {};
    if (authority.find(':') == std::string::npos ||
        (authority.front() == '[' && authority.back() == ']'))
        authority += scheme == "http" ? ":80" : ":443";
    return scheme + "://" + authority;
}

} // namespace vm::player
