#pragma once
// The forum's web addresses: compiled-in defaults, each overridable by the optional profile file
// set\Endpoints.ini, section [endpoints], read once at start-up.

#include <string>
#include <string_view>

namespace vm::sys {

struct Endpoints {
    std::string forum;       // scheme, host and optional port of the forum's web site
    std::string infoPrimary; // full addresses of the two server-information pages
    std::string infoFallback;
    std::string cloudSite;      // cloud drive web site ("/file/id_" pages)
    std::string cloudScheduler; // cloud drive download scheduler ("/cdlsched/getdl")
    std::string blogPrefix;     // blog host whose articles carry introductions
    std::string chat;           // chat service ("/go.html?roomid=")
    std::string chatRoom;       // the forum's room number there
    std::string vendor;         // the language vendor ("/buy.htm")

    // Host name of `forum` without scheme, port or path; it names the single-instance event.
    std::string ForumHost() const;
    std::string ChatRoomPage() const { return chat + "/go.html?roomid=" + chatRoom; }
};

Endpoints DefaultEndpoints();

// Defaults overridden by the keys of `set\Endpoints.ini` under `programFolder` (a Windows path
// text ending in "\"); a missing file or key keeps the default.
Endpoints LoadEndpoints(std::string_view programFolder);

// The program-wide table, set once by start-up; defaults until then.
const Endpoints& CurrentEndpoints();
void SetCurrentEndpoints(Endpoints endpoints);

} // namespace vm::sys
