#include "support/ForwardingProxy.h"

#include "platform/http/Internet.h"

namespace vm::testing {

using namespace vm::http;

ForwardingProxy::ForwardingProxy()
    : server_([](const ReceivedRequest& request, HttpPeer& peer) { Forward(request, peer); }) {}

void ForwardingProxy::Forward(const ReceivedRequest& request, HttpPeer& peer) {
    const std::string prefix = std::string("http://") + kForumHost + ":";
    if (!request.target.starts_with(prefix)) {
        peer.Send(LoopbackHttpServer::Response(502, "", "unknown host"));
        return;
    }
    const std::string rest = request.target.substr(prefix.size());
    const int port = std::atoi(rest.c_str());
    const std::size_t slash = rest.find('/');
    const std::string object = slash == std::string::npos ? "/" : rest.substr(slash);
    std::string headers;
    for (const auto& [name, value] : request.headers) {
        if (name != "Host" && name != "Proxy-Connection")
            headers += name + ": " + value + "\r\n";
    }
    // Direct, whatever the environment says: this is the proxy.
    const HInternet internet = InternetOpen("", INTERNET_OPEN_TYPE_DIRECT, "", "", 0);
    const HInternet connection =
        InternetConnect(internet, "127.0.0.1", port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    const HInternet forwarded =
        HttpOpenRequest(connection, request.method, object, "", "", {},
                        INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES, 0);
    std::string answer;
    if (HttpSendRequest(forwarded, headers, request.body)) {
        char block[8192];
        std::uint32_t length = sizeof block;
        if (HttpQueryInfo(forwarded, HTTP_QUERY_RAW_HEADERS_CRLF, block, &length, nullptr))
            answer.assign(block, length);
        std::uint32_t read = 0;
        while (InternetReadFile(forwarded, block, sizeof block, &read) && read > 0)
            answer.append(block, read);
    }
    InternetCloseHandle(internet);
    peer.Send(answer.empty() ? LoopbackHttpServer::Response(502, "", "forum unreachable") : answer);
}

std::string ForumUrl(const LoopbackHttpServer& forum, std::string_view path) {
    return std::string("http://") + kForumHost + ":" + std::to_string(forum.Port()) +
           std::string(path);
}

} // namespace vm::testing
