#include "support/LoopbackHttp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vm::testing {
namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

int ListenOnLoopback(int backlog, int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Connects without waiting for the handshake to finish.
int ConnectNonBlocking(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

const char* ReasonOf(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

std::string ReceivedRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (SameNoCase(key, name))
            return value;
    }
    return {};
}

bool ReceivedRequest::HasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return SameNoCase(header.first, name); });
}

std::vector<std::string> ReceivedRequest::HeaderNames() const {
    std::vector<std::string> names;
    for (const auto& header : headers)
        names.push_back(header.first);
    return names;
}

void HttpPeer::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void HttpPeer::Stall(int ms) {
    std::unique_lock lock(server_.mutex_);
    server_.stopped_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return server_.stopping_; });
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = ListenOnLoopback(64, port_);
    if (listenFd_ >= 0)
        acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const int fd : connections_)
            shutdown(fd, SHUT_RDWR);
    }
    stopped_.notify_all();
    if (listenFd_ >= 0)
        shutdown(listenFd_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    std::vector<std::thread> workers;
    {
        const std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& worker : workers)
        worker.join();
    if (listenFd_ >= 0)
        close(listenFd_);
}

std::string LoopbackHttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> LoopbackHttpServer::Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t LoopbackHttpServer::RequestCount() const {
    const std::lock_guard lock(mutex_);
    return requests_.size();
}

std::size_t LoopbackHttpServer::ConnectionCount() const {
    const std::lock_guard lock(mutex_);
    return accepted_;
}

std::string LoopbackHttpServer::Response(int status, std::string_view extraHeaderLines,
                                         std::string_view body) {
    std::string response = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) + "\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += extraHeaderLines;
    response += "\r\n";
    response += body;
    return response;
}

bool LoopbackHttpServer::Stopping() const {
    const std::lock_guard lock(mutex_);
    return stopping_;
}

void LoopbackHttpServer::AcceptLoop() {
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            close(fd);
            return;
        }
        connections_.push_back(fd);
        ++accepted_;
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void LoopbackHttpServer::Serve(int fd) {
    std::string buffer;
    char chunk[16384];
    bool open = true;
    while (open && !Stopping()) {
        // Header block.
        std::size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
        if (!open)
            break;
        ReceivedRequest request;
        const std::string head = buffer.substr(0, end + 2);
        std::size_t lineEnd = head.find("\r\n");
        const std::string requestLine = head.substr(0, lineEnd);
        request.method = requestLine.substr(0, requestLine.find(' '));
        const std::size_t targetStart = requestLine.find(' ') + 1;
        request.target = requestLine.substr(targetStart, requestLine.rfind(' ') - targetStart);
        std::size_t contentLength = 0;
        for (std::size_t at = lineEnd + 2; at < head.size();) {
            lineEnd = head.find("\r\n", at);
            const std::string_view line(head.data() + at, lineEnd - at);
            const std::size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                request.headers.emplace_back(std::string(line.substr(0, colon)),
                                             std::string(Trim(line.substr(colon + 1))));
                if (SameNoCase(line.substr(0, colon), "Content-Length"))
                    contentLength = std::stoul(std::string(Trim(line.substr(colon + 1))));
            }
            at = lineEnd + 2;
        }
        buffer.erase(0, end + 4);
        while (buffer.size() < contentLength) {
            const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                open = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
        request.body = buffer.substr(0, std::min(contentLength, buffer.size()));
        buffer.erase(0, request.body.size());
        request.raw = head + "\r\n" + request.body;
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        HttpPeer peer(*this, fd);
        handler_(request, peer);
        if (peer.close_)
            open = false;
    }
    {
        const std::lock_guard lock(mutex_);
        std::erase(connections_, fd);
    }
    close(fd);
}

UnansweredPort::UnansweredPort() {
    listenFd_ = ListenOnLoopback(0, port_);
    // With a backlog of 0 the queue holds one connection; two more make sure it is full.
    for (int i = 0; i < 3; ++i)
        fillers_.push_back(ConnectNonBlocking(port_));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

UnansweredPort::~UnansweredPort() {
    for (const int fd : fillers_)
        close(fd);
    if (listenFd_ >= 0)
        close(listenFd_);
}

int ClosedPort() {
    int port = 0;
    const int fd = ListenOnLoopback(1, port);
    close(fd);
    return port;
}

int ThreadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

} // namespace vm::testing
