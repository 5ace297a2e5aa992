#pragma once
// An HTTP proxy on 127.0.0.1 that knows one name no resolver answers (.invalid is reserved for
// that): it maps kForumHost to 127.0.0.1 and forwards each request there, so a client reaches
// a loopback forum under that name only through the proxy.

#include "support/LoopbackHttp.h"

#include <string>
#include <vector>

namespace vm::testing {

inline constexpr char kForumHost[] = "forum.vellumark.invalid";

class ForwardingProxy {
public:
    ForwardingProxy();
    int Port() const { return server_.Port(); }
    // "127.0.0.1:<port>".
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    std::vector<ReceivedRequest> Requests() const { return server_.Requests(); }

private:
    static void Forward(const ReceivedRequest& request, HttpPeer& peer);
    LoopbackHttpServer server_;
};

// "http://" + kForumHost + ":<the forum's port>" + path.
std::string ForumUrl(const LoopbackHttpServer& forum, std::string_view path);

} // namespace vm::testing
