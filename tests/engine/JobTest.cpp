// The engine's reading of its command line and its refusal of targets outside its folder.

#include "engine/Job.h"

#include <gtest/gtest.h>

namespace vm::engine {
namespace {

TEST(EngineJob, ParseArguments) {
    struct Case {
        std::vector<std::string> arguments;
        bool ok;
        std::string address, target;
        long long number;
    };
    const Case cases[] = {
        {{"http://h/a.rar", "Z:\\vm\\资源目录\\a.rar", "3"},
         true,
         "http://h/a.rar",
         "Z:\\vm\\资源目录\\a.rar",
         3},
        {{"kp,12,x", "Z:\\vm\\资源目录\\网络\\a\\[k]b\\[k]\\[k]c.rar", "12"},
         true,
         "kp,12,x",
         "Z:\\vm\\资源目录\\网络\\a b  c.rar",
         12},
        {{"http://h/main.7z", "Z:\\vm\\main.7z", "-1"},
         true,
         "http://h/main.7z",
         "Z:\\vm\\main.7z",
         -1},
        // Blanks the program failed to escape still make one target.
        {{"http://h/a", "Z:\\vm\\a", "b.rar", "2"}, true, "http://h/a", "Z:\\vm\\a b.rar", 2},
        {{"http://h/a", "Z:\\vm\\a.rar"}, false, "", "", 0},
        {{}, false, "", "", 0},
        {{"", "Z:\\vm\\a.rar", "1"}, false, "", "", 0},
        {{"http://h/a", "", "1"}, false, "", "", 0},
        {{"http://h/a", "Z:\\vm\\a.rar", "3x"}, false, "", "", 0},
        {{"http://h/a", "Z:\\vm\\a.rar", ""}, false, "", "", 0},
        {{"http://h/a", "Z:\\vm\\a.rar", "99999999999999999999"}, false, "", "", 0},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::optional<Job> job = ParseArguments(c.arguments, error);
        ASSERT_EQ(job.has_value(), c.ok) << (c.arguments.empty() ? "" : c.arguments.back());
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(job->address, c.address);
        EXPECT_EQ(job->target, c.target);
        EXPECT_EQ(job->number, c.number);
    }
}

TEST(EngineJob, RestoreBlanksNeverTakesATrailByteForTheEscape) {
    // 0x95 0x5C is one character whose second byte looks like "\".
    EXPECT_EQ(RestoreBlanks("\x95\\[k]"), "\x95\\[k]");
    EXPECT_EQ(RestoreBlanks("\x95\\\\[k]x"), "\x95\\ x");
    EXPECT_EQ(RestoreBlanks("a\\[k\\[k]]"), "a\\[k ]");
}

TEST(EngineJob, TargetsOutsideTheProgramFolderAreRefused) {
    const std::string folder = "Z:\\home\\a\\vm\\";
    struct Case {
        std::string target;
        bool inside;
    };
    const Case cases[] = {
        {"Z:\\home\\a\\vm\\资源目录\\网络\\a b.rar", true},
        {"Z:\\home\\a\\vm\\main.7z", true},
        {"Z:\\home\\a\\vm\\资源目录\\..\\..\\x.rar", false},
        {"Z:\\home\\a\\vm\\资源目录\\..\\x.rar", false},
        {"Z:\\home\\a\\vm\\资源目录/../../x.rar", false},
        {"Z:\\home\\a\\vm\\.\\x.rar", false},
        {"Z:\\home\\a\\vm\\资源目录\\\\x.rar", false},
        {"Z:\\home\\a\\vm\\资源目录\\", false},
        {"Z:\\home\\a\\vm\\", false},
        {"Z:\\home\\a\\vmx\\a.rar", false},
        {"Z:\\home\\a\\a.rar", false},
        {"C:\\home\\a\\vm\\a.rar", false},
        {"z:\\home\\a\\vm\\a.rar", false},          // another spelling is another path on Linux
        {"Z:\\home\\a\\vm\\\x95\\..\\x.rar", true}, // "\x95\\" is one character: no ".." piece
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsInsideFolder(c.target, folder), c.inside) << c.target;
    EXPECT_FALSE(IsInsideFolder("Z:\\home\\a\\vm\\a.rar", ""));
    EXPECT_FALSE(IsInsideFolder("Z:\\home\\a\\vm\\a.rar", "Z:\\home\\a\\vm"));
}

TEST(EngineJob, ProgramUpdateIsMinusOneAndMain7zInTheFolder) {
    const std::string folder = "Z:\\vm\\";
    struct Case {
        std::string target;
        long long number;
        bool update;
    };
    const Case cases[] = {
        {"Z:\\vm\\main.7z", -1, true}, {"Z:\\vm\\MAIN.7Z", -1, true},
        {"Z:\\vm\\main.7z", 1, false}, {"Z:\\vm\\资源目录\\main.7z", -1, false},
        {"Z:\\vm\\up.7z", -1, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsProgramUpdate({"http://h/x", c.target, c.number}, folder), c.update)
            << c.target << " " << c.number;
}

TEST(EngineJob, RequestForEachAddressForm) {
    sys::Endpoints endpoints;
    endpoints.cloudScheduler = "http://dl.example";
    endpoints.cloudSite = "http://pan.example";

    const auto http = RequestFor("http://h/a.rar", endpoints);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->url, "http://h/a.rar");
    EXPECT_TRUE(http->headers.empty());
    ASSERT_TRUE(RequestFor("HTTPS://h/a.rar", endpoints));

    const auto kp = RequestFor("kp,r12,12", endpoints);
    ASSERT_TRUE(kp);
    EXPECT_EQ(kp->url, "http://dl.example/cdlsched/getdl?fid=r12&acc_params=entryid:r12,"
                       "pickupCode:");
    EXPECT_EQ(kp->headers,
              std::vector<std::string>{"Referer: http://pan.example/file/id_r12.html"});

    for (const char* address : {"kp", "kp,", "kp,,3", "ftp://h/a.rar", "httpx", "magnet:?xt=x", ""})
        EXPECT_FALSE(RequestFor(address, endpoints)) << address;
}

} // namespace
} // namespace vm::engine
