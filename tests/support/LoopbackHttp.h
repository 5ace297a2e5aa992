#pragma once
// HTTP servers on 127.0.0.1 for the request tests. The server reads each request off the socket
// itself, so tests see exactly what arrived: the request line, every header line in its order
// and case, and the body bytes. A handler answers with raw bytes and may stall; stalls end as
// soon as the server is destroyed, so a test never waits for a stalled peer.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vm::testing {

struct ReceivedRequest {
    std::string raw; // request line, headers and body exactly as received
    std::string method;
    std::string target; // as on the request line: a path, or an absolute URL through a proxy
    std::vector<std::pair<std::string, std::string>> headers; // in order, values trimmed
    std::string body;

    // The first header of that name (ASCII case ignored); "" when absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
    // Header names in the order they arrived.
    std::vector<std::string> HeaderNames() const;
};

class LoopbackHttpServer;

// The connection a handler answers on.
class HttpPeer {
public:
    void Send(std::string_view bytes);
    // Waits `ms`, or less when the server stops.
    void Stall(int ms);
    // Closes after the handler returns instead of reading another request.
    void Close() { close_ = true; }

private:
    friend class LoopbackHttpServer;
    HttpPeer(LoopbackHttpServer& server, int fd) : server_(server), fd_(fd) {}
    LoopbackHttpServer& server_;
    int fd_;
    bool close_ = false;
};

class LoopbackHttpServer {
public:
    using Handler = std::function<void(const ReceivedRequest&, HttpPeer&)>;
    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" + path.
    std::string Url(std::string_view path = "/") const;
    std::vector<ReceivedRequest> Requests() const;
    std::size_t RequestCount() const;
    // Connections accepted so far, whether or not a request arrived on them.
    std::size_t ConnectionCount() const;

    // "HTTP/1.1 <status> <reason>", Content-Length, the extra lines (each ending in CR LF), body.
    static std::string Response(int status, std::string_view extraHeaderLines,
                                std::string_view body);

private:
    friend class HttpPeer;
    void AcceptLoop();
    void Serve(int fd);
    bool Stopping() const;

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::vector<ReceivedRequest> requests_;
    std::vector<int> connections_;
    std::size_t accepted_ = 0;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A port whose connects never complete: it listens with a full backlog and never accepts, so
// the kernel drops further connection attempts and the client keeps retrying.
class UnansweredPort {
public:
    UnansweredPort();
    ~UnansweredPort();
    int Port() const { return port_; }

private:
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

// A loopback port that refuses connections (nothing listens on it).
int ClosedPort();

// Threads of this process (entries of /proc/self/task).
int ThreadCount();

} // namespace vm::testing
