#include "sys/Endpoints.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace vm::sys {
namespace {

using testing::TempFolder;
using testing::WriteBytes;

TEST(Endpoints, FileOverridesEachKeyOnItsOwn) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "set");
    WriteBytes(folder / "set" / "Endpoints.ini",
               "; demo forum\r\n[Endpoints]\r\nFORUM = http://127.0.0.1:8080/\r\n"
               "chat_room=\"77\"\r\nvendor=\r\n[other]\r\ncloud_site=http://wrong\r\n");
    const Endpoints e = LoadEndpoints(folder.windowsPath());
    const Endpoints d = DefaultEndpoints();
    EXPECT_EQ(e.forum, "http://127.0.0.1:8080");
    EXPECT_EQ(e.chatRoom, "77");
    EXPECT_EQ(e.vendor, d.vendor); // an empty value keeps the default
    EXPECT_EQ(e.cloudSite, d.cloudSite);
    EXPECT_EQ(e.ChatRoomPage(), d.chat + "/go.html?roomid=77");
}

TEST(Endpoints, MissingOrGarbledFileGivesDefaults) {
    TempFolder folder;
    EXPECT_EQ(LoadEndpoints(folder.windowsPath()).forum, DefaultEndpoints().forum);
    std::filesystem::create_directories(folder / "set");
    WriteBytes(folder / "set" / "Endpoints.ini", std::string("\0\xFF[\n=\r\x81", 7));
    EXPECT_EQ(LoadEndpoints(folder.windowsPath()).infoPrimary, DefaultEndpoints().infoPrimary);
}

TEST(Endpoints, ForumHost) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"http://bbs.example.net", "bbs.example.net"},
        {"https://127.0.0.1:8080/x", "127.0.0.1"},
        {"bbs.example.net/path", "bbs.example.net"},
        {"http://h?q=1", "h"},
        {"", ""},
    };
    for (const auto& [forum, host] : cases) {
        Endpoints e;
        e.forum = forum;
        EXPECT_EQ(e.ForumHost(), host) << forum;
    }
}

} // namespace
} // namespace vm::sys
