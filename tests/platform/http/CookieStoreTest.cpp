#include "platform/http/CookieStore.h"
#include "support/TempFolder.h"

#include <filesystem>
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

TEST_F(Cookies, HostileDomainsAreRefused) {
    struct Case {
        const char* from;
        const char* cookie;
        bool accepted;
        const char* askFor; // where the cookie must (when accepted) or must not go
    };
    const Case cases[] = {
        {"http://www.example.com/", "x=1; Domain=com", false, "http://other.com/"},
        {"http://www.example.co.uk/", "x=1; Domain=co.uk", false, "http://other.co.uk/"},
        {"http://a.blogspot.com/", "x=1; Domain=blogspot.com", false, "http://b.blogspot.com/"},
        {"http://forum.localhost/", "x=1; Domain=localhost", false, "http://other.localhost/"},
        {"http://www.example.com/", "x=1; Domain=ample.com", false, "http://ample.com/"},
        {"http://www.example.com/", "x=1; Domain=www.example.com.evil", false,
         "http://www.example.com.evil/"},
        // An address can only set a cookie for itself, never for a "parent" of its digits.
        {"http://10.1.2.3/", "x=1; Domain=1.2.3", false, "http://9.1.2.3/"},
        {"http://10.1.2.3/", "x=1; Domain=10.1.2.3", true, "http://10.1.2.3/"},
        {"http://[::1]/", "x=1; Domain=[::1]", true, "http://[::1]/"},
        // A host that is itself a suffix may name itself; the cookie stays its own.
        {"http://localhost/", "x=1; Domain=localhost", true, "http://localhost/"},
        {"http://www.example.com/", "x=1; Domain=Example.COM", true, "http://a.example.com/"},
        {"http://www.example.com/", "x=1; Domain=.example.com", true, "http://example.com/"},
        // Controls in the cookie itself are refused; a tab between attributes is a blank.
        {"http://h/", "x=a\x01b", false, "http://h/"},
        {"http://h/", "x=1;\tPath=/", true, "http://h/"},
    };
    for (const Case& c : cases) {
        store.Clear();
        EXPECT_EQ(store.Set(c.from, c.cookie), c.accepted) << c.from << " " << c.cookie;
        EXPECT_EQ(store.CookieHeaderFor(c.askFor), c.accepted ? "x=1" : "") << c.cookie;
    }
    // Stated for an address, the cookie does not travel to a name or to a neighbour.
    store.Clear();
    ASSERT_TRUE(store.Set("http://10.1.2.3/", "x=1; Domain=10.1.2.3"));
    EXPECT_EQ(store.CookieHeaderFor("http://110.1.2.3/"), "");
    EXPECT_TRUE(store.All().at(0).hostOnly);

    EXPECT_FALSE(store.Set("http://h/", "x=" + std::string(CookieStore::kMaxCookieBytes, 'v')));
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(store.Set("http://h/", "n" + std::to_string(i) + "=1"));
    EXPECT_EQ(store.All().size(), CookieStore::kMaxPerDomain + 1); // with the address's
    EXPECT_EQ(store.CookieHeaderFor("http://h/").substr(0, 9), "n10=1; n1");
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

TEST_F(Cookies, RestatingAKeptCookieWithoutExpiryKeepsIt) {
    ASSERT_TRUE(store.Set("http://h/", "sid=1; Max-Age=3600"));
    // The request routines write back what they sent, name and value only.
    ASSERT_TRUE(InternetSetCookie("http://h", "sid", "1"));
    ASSERT_TRUE(store.All().at(0).expires.has_value());
    // A new value is a new session cookie, as the Windows store makes it.
    ASSERT_TRUE(InternetSetCookie("http://h", "sid", "2"));
    EXPECT_FALSE(store.All().at(0).expires.has_value());
    EXPECT_EQ(store.CookieHeaderFor("http://h/"), "sid=2");
}

TEST_F(Cookies, BrowserChangesAreNotReportedBack) {
    CookieStore own;
    std::vector<std::pair<std::string, bool>> reported;
    own.SetListener([&](const Cookie& cookie, bool removed) {
        reported.emplace_back(cookie.name + "=" + cookie.value, removed);
    });
    ASSERT_TRUE(own.Set("http://www.example.com/", "site=1; Domain=example.com"));
    ASSERT_TRUE(own.Set("http://www.example.com/", "site=1; Domain=example.com")); // unchanged
    Cookie browser;
    browser.name = "web";
    browser.value = "2";
    browser.domain = ".example.com";
    browser.path = "/";
    ASSERT_TRUE(own.Insert(browser));
    EXPECT_EQ(own.CookieHeaderFor("http://www.example.com/"), "site=1; web=2");
    EXPECT_FALSE(own.All().at(1).hostOnly);
    own.Remove(browser);
    ASSERT_TRUE(own.Set("http://www.example.com/", "site=; Max-Age=0; Domain=example.com"));
    EXPECT_EQ(reported,
              (std::vector<std::pair<std::string, bool>>{{"site=1", false}, {"site=1", true}}));
    browser.domain = ".com";
    EXPECT_FALSE(own.Insert(browser));
    browser.domain = "www.example.com";
    browser.value = "a\nb";
    EXPECT_FALSE(own.Insert(browser));
    EXPECT_TRUE(own.All().empty());
}

TEST_F(Cookies, KeptCookiesOutliveTheRun) {
    const vm::testing::TempFolder folder("vm-cookies");
    const std::string file = folder.windowsPath() + "Cookies.txt";
    {
        CookieStore first;
        EXPECT_EQ(first.KeepIn(file), 0u);
        EXPECT_FALSE(std::filesystem::exists(folder / "Cookies.txt")); // nothing to keep yet
        ASSERT_TRUE(first.Set("http://forum.example.com/bbs/", "session=1"));
        ASSERT_TRUE(first.Set("http://forum.example.com/", "kept=\xC4\xE3; Max-Age=86400; "
                                                           "Domain=example.com; HttpOnly"));
        ASSERT_TRUE(first.Set("https://forum.example.com/", "safe=2; Max-Age=86400; Secure"));
        ASSERT_TRUE(first.Set("http://forum.example.com/", "gone=3; Max-Age=86400"));
        ASSERT_TRUE(first.Set("http://forum.example.com/", "gone=3; Max-Age=0"));
    }
    CookieStore second;
    EXPECT_EQ(second.KeepIn(file), 2u);
    EXPECT_EQ(second.CookieHeaderFor("https://www.example.com/"), "kept=\xC4\xE3");
    EXPECT_EQ(second.CookieHeaderFor("https://forum.example.com/bbs/"), "kept=\xC4\xE3; safe=2");
    const std::vector<Cookie> all = second.All();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[0].httpOnly);
    EXPECT_FALSE(all[0].hostOnly);
    EXPECT_TRUE(all[1].hostOnly);
    EXPECT_TRUE(all[1].secure);
    // No temporary file is left beside it.
    std::size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1u);
}

TEST_F(Cookies, ADamagedOrHugeFileIsSetAside) {
    const vm::testing::TempFolder folder("vm-cookies");
    const std::string file = folder.windowsPath() + "Cookies.txt";
    const std::string good = "forum.example.com\tFALSE\t/\tFALSE\t4102444800\tok\t1\n";
    const std::string damaged[] = {
        good + "forum.example.com\tFALSE\t/\tFALSE\t4102444800\tonly six\n",
        good + "forum.example.com\tMAYBE\t/\tFALSE\t4102444800\tx\t1\n",
        good + "forum.example.com\tFALSE\t/\tFALSE\tsoon\tx\t1\n",
        good + ".com\tTRUE\t/\tFALSE\t4102444800\tx\t1\n",
        good + "h\tFALSE\tnoslash\tFALSE\t4102444800\tx\t1\n",
        std::string("\0\xFF\xFE binary", 10),
        good + std::string(CookieStore::kMaxFileBytes, '#'),
    };
    for (const std::string& contents : damaged) {
        vm::testing::WriteBytes(folder / "Cookies.txt", contents);
        std::filesystem::remove(folder / "Cookies.txt.damaged");
        CookieStore store;
        EXPECT_EQ(store.KeepIn(file), 0u);
        EXPECT_TRUE(store.All().empty());
        EXPECT_EQ(vm::testing::ReadBytes(folder / "Cookies.txt.damaged"), contents);
        EXPECT_EQ(vm::testing::ReadBytes(folder / "Cookies.txt"), "# Netscape HTTP Cookie File\n");
    }
    // Comments, blank lines, CR LF and cookies that expired meanwhile are fine.
    vm::testing::WriteBytes(folder / "Cookies.txt",
                            "# a comment\r\n\r\n" + good +
                                "forum.example.com\tFALSE\t/\tFALSE\t1000\told\t1\r\n");
    std::filesystem::remove(folder / "Cookies.txt.damaged");
    CookieStore store;
    EXPECT_EQ(store.KeepIn(file), 1u);
    EXPECT_EQ(store.CookieHeaderFor("http://forum.example.com/"), "ok=1");
    EXPECT_FALSE(std::filesystem::exists(folder / "Cookies.txt.damaged"));
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
