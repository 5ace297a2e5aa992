#pragma once
// The loopback relay through which the Flash player reaches the web. A page shown from a file
// cannot read a movie from another origin, so the player asks this relay instead: it fetches
// through the program's own HTTP client (redirects, cookie store) and answers with
// Access-Control-Allow-Origin, and it serves the player's own files.
//
// Rules: it listens on 127.0.0.1 only, every path starts with a token drawn afresh for each relay,
// only GET is answered, only http and https addresses on the movie's own site are fetched, and it
// lives only while the page that plays the movie is shown (the owner destroys it).

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace httplib {
class Server;
}

namespace vm::http {
class Exchange;
}

namespace vm::player {

class MovieRelay {
public:
    // `playerFolder`: Linux path of the player's files; `movie`: the movie's address, whose
    // scheme, host and port bound what may be fetched. Listens at once; Port() is 0 when it
    // could not.
    MovieRelay(std::string playerFolder, std::string_view movie);
    ~MovieRelay(); // cancels what is in flight and waits for it
    MovieRelay(const MovieRelay&) = delete;
    MovieRelay& operator=(const MovieRelay&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>/<token>/"; the player's files lie under "player/", and
    // "fetch/" followed by an absolute address fetches that address.
    std::string Base() const;
    // Relayed fetches so far (refused ones not counted).
    int Fetches() const { return fetches_; }

    // The site of an address: lower-case "scheme://host:port", or "" when it is not an http or
    // https address with a host.
    static std::string SiteOf(std::string_view address);

private:
    struct Handlers;
    friend struct Handlers;

    std::string playerFolder_;
    std::string site_;
    std::string token_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> listenEnded_{false};
    int port_ = 0;
    std::atomic<int> fetches_ = 0;
    std::mutex mutex_;
    bool stopping_ = false;
    std::set<std::shared_ptr<http::Exchange>> inFlight_;
};

} // namespace vm::player
