#include "net/UrlText.h"

#include "platform/http/CookieStore.h"

#include <gtest/gtest.h>
#include <vector>

namespace vm::net {
namespace {

const std::string kTrailBackslash = "\x95\x5C";

TEST(UrlText, HostOfUrl) {
    struct Case {
        std::string url;
        std::string host;
        std::string domain;
    };
    const std::vector<Case> cases = {
        {"http://WWW.Example.COM:81/a/b", "www.example.com", "example.com"},
        {"https://X.Y.Z/x?q=1", "x.y.z", "y.z"},
        {"p.q.r.s", "p.q.r.s", "r.s"},
        {"localhost:8080/x", "localhost", "localhost"},
        {"see http://a.b/c", "a.b", "a.b"},
        // The scheme is matched with its exact case; "HTTP:" is then read as the host.
        {"HTTP://A.B/", "http", "http"},
        {"http://" + kTrailBackslash + ".Cn.Net/", kTrailBackslash + ".cn.net", "cn.net"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HostOfUrl(c.url, false), c.host) << c.url;
        EXPECT_EQ(HostOfUrl(c.url, true), c.domain) << c.url;
    }
}

TEST(UrlText, HostNameObjectPathAndPort) {
    struct Case {
        std::string url;
        std::string host;
        std::string path;
        int port;
    };
    const std::vector<Case> cases = {
        {"http://a.com", "a.com", "/", 80},
        {"http://a.com/x?y=1", "a.com", "/x?y=1", 80},
        {"http://WWW.A.com:8080/p/q", "www.a.com", "/p/q", 8080},
        // Schemes are removed with their exact case, so "HTTP:" reads as the host here.
        {"HTTP://a.com:81", "http", "//a.com:81", 81},
        {"https://a.com:8443/x", "a.com", "/x", 0},
        {"https://a.com/x", "a.com", "/x", 0},
        {"a.com:99/x", "a.com", "/x", 99},
        {"a.com", "a.com", "/", 80},
        {"http://a.com?x=1", "a.com?x=1", "/", 80},
        {"http://a.com/a/http://b", "a.com", "/a/http://b", 80},
        {"https://http://a.com/z", "a.com", "/z", 0},
        {"http://a.com:/x", "a.com", "/x", 0},
        {"http://a.com:12ab/", "a.com", "/", 12},
        {"http://a.com:99999999999/", "a.com", "/", 0},
        {"http://a.com/x:81", "a.com", "/x:81", 80},
        {"", "", "/", 80},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlHostName(c.url), c.host) << c.url;
        EXPECT_EQ(UrlObjectPath(c.url), c.path) << c.url;
        EXPECT_EQ(UrlPort(c.url), c.port) << c.url;
    }
}

TEST(UrlText, CutBetweenAndTextBefore) {
    struct Cut {
        std::string text;
        std::string left;
        std::string right;
        bool caseSensitive;
        std::string expected;
    };
    const std::vector<Cut> cuts = {
        {"<a>x</a>", "<a>", "</a>", false, "x"},
        {"<A>x</A>", "<a>", "</a>", false, "x"},
        {"<A>x</A>", "<a>", "</a>", true, ""},
        {"x]y[", "[", "]", false, ""},
        {"x[y", "[", "]", false, ""},
        {"xy]", "[", "]", false, ""},
        {"[]", "[", "]", false, ""},
        {"a[b]c]", "[", "]", false, "b"},
        {"<a href=\"u.htm\">", "href=#引号", "#引号", false, "u.htm"},
        {"数据流[QUJD]数据流", "数据流[", "]数据流", false, "QUJD"},
        {kTrailBackslash + "x\\y|", "\\", "|", false, "y"},
        {"abc", "", "c", false, ""},
        {"abc", "a", "", false, ""},
    };
    for (const auto& c : cuts)
        EXPECT_EQ(CutBetween(c.text, c.left, c.right, c.caseSensitive), c.expected) << c.text;

    struct Before {
        std::string text;
        std::string marker;
        std::string expected;
    };
    const std::vector<Before> befores = {
        {"name=value=x", "=", "name"},
        {"abc", "x", ""},
        {"=x", "=", ""},
        {"A-b-a", "a", "A-b-"},
        {kTrailBackslash + "\\x", "\\", kTrailBackslash},
    };
    for (const auto& c : befores)
        EXPECT_EQ(TextBefore(c.text, c.marker), c.expected) << c.text;
}

TEST(UrlText, MergeCookies) {
    struct Case {
        std::string base;
        std::string update;
        std::string merged;
        std::string updateAfter;
    };
    const std::vector<Case> cases = {
        {"a=1; b=2", "b=3; c=4", "a=1; b=3; c=4;", "b=3; c=4;"},
        {"a=1; b=2;", "a=deleted;", "b=2;", "a=deleted;"},
        // " a" (with its blank) is another name than the "a" at the start of the base.
        {"a=1", "x=0; a=2", "a=1; x=0; a=2;", "x=0; a=2;"},
        {"x=0; a=1", " a=2", "x=0; a=2;", "a=2;"},
        {"", "", "", ""},
        {"  a=1 \xA1\xA1", "", "a=1;", ""},
        {"", "\xA1\xA1k=v", "k=v;", "k=v;"},
        {"A=1", "a=2", "a=2;", "a=2;"},
        {"a=1; b=", "", "a=1;", ""},
        {"a=1", "junk; b=2", "a=1; b=2;", "junk; b=2;"},
        {"flag; a=1", "a=2", "flag; a=2;", "a=2;"},
        {"a=1; a=1", "a=2", "a=2; a=2;", "a=2;"},
        // Whole names: "id" is neither "sid" nor part of a value.
        {"sid=1; id=2", "id=3", "sid=1; id=3;", "id=3;"},
        {"a=xid=5", "id=1", "a=xid=5; id=1;", "id=1;"},
        {"用户=甲", "用户=乙", "用户=乙;", "用户=乙;"},
        // Base64 padding is part of a value, not an empty one.
        {"s=QUJD==; e= ", "t=x=", "s=QUJD==; t=x=;", "t=x=;"},
    };
    for (const auto& c : cases) {
        std::string base = c.base;
        std::string update = c.update;
        EXPECT_EQ(MergeCookies(base, update), c.merged) << c.base << " + " << c.update;
        EXPECT_EQ(base, c.merged);
        EXPECT_EQ(update, c.updateAfter);
    }
}

class StoredCookies : public ::testing::Test {
protected:
    void SetUp() override { http::CookieStore::Global().Clear(); }
    void TearDown() override { http::CookieStore::Global().Clear(); }
};

TEST_F(StoredCookies, StoreAndReadBackByHost) {
    EXPECT_EQ(ReadStoredCookies("http://nothing.example/"), "");

    StoreCookies("http://Forum.Example.com:8080/bbs/x.php", "a=1; b=x=y==; junk; c=");
    const std::string expected = "a=1; b=x=y==; c=";
    EXPECT_EQ(ReadStoredCookies("forum.example.com"), expected);
    EXPECT_EQ(ReadStoredCookies("http://FORUM.example.com/other/page"), expected);
    EXPECT_EQ(ReadStoredCookies("https://forum.example.com/"), expected);
    EXPECT_EQ(ReadStoredCookies("http://example.com/"), "");

    // Stored texts merge with new ones as the request routines do it.
    std::string base = ReadStoredCookies("forum.example.com");
    std::string update = "a=deleted; d=4";
    EXPECT_EQ(MergeCookies(base, update), "b=x=y==; d=4;");
}

TEST_F(StoredCookies, ReadsOnlyWhatFitsTheBuffer) {
    // 1023 characters and the terminating zero fill the 1024-byte buffer exactly.
    StoreCookies("http://big.example/", "n=" + std::string(1021, 'v'));
    EXPECT_EQ(ReadStoredCookies("http://big.example/").size(), 1023u);
    StoreCookies("http://big.example/", "n=" + std::string(1022, 'v'));
    EXPECT_EQ(ReadStoredCookies("http://big.example/"), "");
}

} // namespace
} // namespace vm::net
