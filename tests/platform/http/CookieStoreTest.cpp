#include "platform/http/CookieStore.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vm::http {
namespace {

class Cookies : public ::testing::Test {
protected:
    void SetUp() override { CookieStore::Global().Clear(); }
    void TearDown() override { CookieStore::Global().Clear(); }
    CookieStore& store = CookieStore::Global();
};

TEST_F(Cookies, DomainPathAndSecureRules) {
    struct Case {
        std::string setFrom;
        std::string setCookie;
        std::string askFor;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"http://A.Example.com/", "x=1", "http://a.example.com/any", "x=1"},
        {"http://a.example.com/", "x=1", "http://b.a.example.com/", ""},
        {"http://a.example.com:8080/", "x=1", "https://a.example.com/", "x=1"},
        {"http://a.example.com/", "x=1; Domain=.Example.com", "http://b.example.com/", "x=1"},
        {"http://a.example.com/", "x=1; domain=example.com", "http://example.com/", "x=1"},
        {"http://a.example.com/", "x=1; Domain=example.com", "http://notexample.com/", ""},
        {"http://h/", "x=1; Path=/bbs", "http://h/bbs/t.php?x=/", "x=1"},
        {"http://h/", "x=1; Path=/bbs", "http://h/bbs", "x=1"},
        {"http://h/", "x=1; Path=/bbs", "http://h/bbsx", ""},
        {"http://h/", "x=1; Path=/bbs", "http://h/", ""},
        // Without Path the cookie belongs to the folder of the page that set it.
        {"http://h/bbs/t.php", "x=1", "http://h/bbs/other", "x=1"},
        {"http://h/bbs/t.php", "x=1", "http://h/", ""},
        {"http://h/", "x=1; Secure", "http://h/", ""},
        {"http://h/", "x=1; Secure", "https://h/", "x=1"},
        {"http://user:pw@h:81/", " x = 1 ; HttpOnly", "http://h", "x=1"},
        {"http://h/", "x=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT", "http://h/", "x=1"},
        {"http://h/", "x=1; Expires=Wed, 09-Jun-1999 10:18:14 GMT", "http://h/", ""},
        {"http://h/", "x=1; Max-Age=0", "http://h/", ""},
        {"http://h/", "x=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT; Max-Age=-1", "http://h/", ""},
        {"http://h/", "x=1; Max-Age=60; Expires=Wed, 09-Jun-1999 10:18:14 GMT", "http://h/", "x=1"},
        {"http://h/", "\xD3\xC3\xBB\xA7=\xBC\xD7", "http://h/", "\xD3\xC3\xBB\xA7=\xBC\xD7"},
        {"http://h/", "token=QUJD==", "http://h/", "token=QUJD=="},
        {"http://h/", "bare", "http://h/", "bare"},
    };
    for (const auto& c : cases) {
        store.Clear();
        EXPECT_TRUE(store.Set(c.setFrom, c.setCookie)) << c.setCookie;
        EXPECT_EQ(store.CookieHeaderFor(c.askFor), c.expected) << c.setCookie << " -> " << c.askFor;
    }
}

TEST_F(Cookies, RefusedCookies) {
    for (const std::string url : {"ftp://h/", "http:///x", "h.example", "", "https://:81/"})
        EXPECT_FALSE(store.Set(url, "x=1")) << url;
    EXPECT_FALSE(store.Set("http://a.example.com/", "x=1; Domain=other.com"));
    EXPECT_FALSE(store.Set("http://example.com/", "x=1; Domain=a.example.com"));
    EXPECT_FALSE(store.Set("http://h/", " ; Path=/"));
    EXPECT_TRUE(store.All().empty());
}

TEST_F(Cookies, ReplacementKeepsOneCookieAndItsAge) {
    ASSERT_TRUE(store.Set("http://h/", "a=1"));
    ASSERT_TRUE(store.Set("http://h/", "b=2"));
    ASSERT_TRUE(store.Set("http://h/x/y", "c=3"));
    ASSERT_TRUE(store.Set("http://h/", "a=9"));
    ASSERT_TRUE(store.Set("http://h/", "A=case"));
    // Longer paths first, then oldest first; names are case-sensitive.
    EXPECT_EQ(store.CookieHeaderFor("http://h/x/z"), "c=3; a=9; b=2; A=case");
    ASSERT_TRUE(store.Set("http://h/", "b=; Max-Age=0"));
    EXPECT_EQ(store.CookieHeaderFor("http://h/"), "a=9; A=case");
    EXPECT_EQ(store.All().size(), 3u);
}

TEST_F(Cookies, WindowsCallsAndTheBufferLimit) {
    EXPECT_EQ(InternetGetCookie("http://h/", 1024), std::nullopt);
    ASSERT_TRUE(InternetSetCookie("http://h", "name", "value; path=/"));
    ASSERT_TRUE(InternetSetCookie("http://h", "", "whole=text"));
    EXPECT_EQ(InternetGetCookie("http://h/", 1024), "name=value; whole=text");
    EXPECT_FALSE(InternetSetCookie("not a url", "n", "v"));

    store.Clear();
    ASSERT_TRUE(InternetSetCookie("http://h", "n", std::string(1021, 'v')));
    EXPECT_EQ(InternetGetCookie("http://h", 1024)->size(), 1023u);
    EXPECT_EQ(InternetGetCookie("http://h", 1023), std::nullopt);
}

TEST_F(Cookies, SharedAcrossThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                InternetSetCookie("http://h/", "t" + std::to_string(t), std::to_string(i));
                InternetGetCookie("http://h/", 1024);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const std::vector<Cookie> all = store.All();
    ASSERT_EQ(all.size(), 4u);
    for (const Cookie& cookie : all)
        EXPECT_EQ(cookie.value, "199") << cookie.name;
}

} // namespace
} // namespace vm::http
