#include "sys/Endpoints.h"

#include "platform/fs/Profile.h"
#include "platform/text/Gbk.h"

namespace vm::sys {
namespace {

Endpoints& Table() {
    static Endpoints table = DefaultEndpoints();
    return table;
}

// Texts ending in "/" would double the separator in front of the fixed paths.
std::string WithoutTrailingSlash(std::string text) {
    while (!text.empty() && text.back() == '/')
        text.pop_back();
    return text;
}

} // namespace

std::string Endpoints::ForumHost() const {
    std::string_view rest = forum;
    if (const auto scheme = rest.find("://"); scheme != std::string_view::npos)
        rest.remove_prefix(scheme + 3);
    const auto end = rest.find_first_of(":/?#");
    return std::string(rest.substr(0, end));
}

Endpoints DefaultEndpoints() {
    Endpoints e;
    e.forum = "http://bbs.lanternhall.net";
    e.infoPrimary = "http://bbs.lanternhall.net/vellumark/info.html";
    e.infoFallback = "http://www.lanternhall.net/vellumark/info.html";
    e.cloudSite = "http://pan.lanternhall.net";
    e.cloudScheduler = "http://dl.pan.lanternhall.net";
    e.blogPrefix = "http://blog.lanternhall.net";
    e.chat = "http://chat.lanternhall.net";
    e.chatRoom = "1180";
    e.vendor = "http://www.tessel-lang.net";
    return e;
}

Endpoints LoadEndpoints(std::string_view programFolder) {
    const std::string file = std::string(programFolder) + "set\\Endpoints.ini";
    Endpoints e = DefaultEndpoints();
    const auto read = [&](const char* key, std::string& field, bool isPrefix) {
        std::string value = text::Trim(fs::ReadProfileString(file, "endpoints", key, ""));
        if (!value.empty())
            field = isPrefix ? WithoutTrailingSlash(std::move(value)) : std::move(value);
    };
    read("forum", e.forum, true);
    read("info_primary", e.infoPrimary, false);
    read("info_fallback", e.infoFallback, false);
    read("cloud_site", e.cloudSite, true);
    read("cloud_scheduler", e.cloudScheduler, true);
    read("blog_prefix", e.blogPrefix, true);
    read("chat", e.chat, true);
    read("chat_room", e.chatRoom, false);
    read("vendor", e.vendor, true);
    return e;
}

const Endpoints& CurrentEndpoints() {
    return Table();
}

void SetCurrentEndpoints(Endpoints endpoints) {
    Table() = std::move(endpoints);
}

} // namespace vm::sys
