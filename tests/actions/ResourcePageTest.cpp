// Introduction and video pages: the page texts, and whole showings in the viewer on the
// headless backend, with blog articles fetched from a loopback server.

#include "actions/ResourcePage.h"
#include "platform/gui/Headless.h"
#include "platform/text/Codepage.h"
#include "support/LoopbackHttp.h"
#include "support/TempFolder.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/ViewerWindow.h"

#include <gtest/gtest.h>

namespace vm::actions {
namespace {

using testing::LoopbackHttpServer;

const std::string kMeta = "<meta charset=\"gbk\">";
const std::string kIndent = "&nbsp;&nbsp;&nbsp;&nbsp;";

TEST(ResourcePageText, VideoPageReplacesEachPlaceholderOnce) {
    const std::string before = "<embed src='";
    struct Case {
        std::string video, inserted;
    };
    const Case cases[] = {
        {"http://v.test/player.swf?id=7", "http://v.test/player.swf?id=7"},
        // The inserted address is not scanned again.
        {"http://v.test/t_地址/x.swf", "http://v.test/t_地址/x.swf"},
        {"T_地址", "T_地址"},
        // A quote cannot end the attribute early.
        {"http://v.test/a.swf' onload='x", "http://v.test/a.swf&#39; onload=&#39;x"},
    };
    for (const Case& c : cases) {
        const std::string page = VideoPage(c.video);
        ASSERT_EQ(page.rfind(kMeta + "\r\n", 0), 0u) << c.video;
        std::string expected(VideoPageTemplate());
        expected.replace(expected.find("t_地址"), 6, c.inserted);
        EXPECT_EQ(page.substr(kMeta.size() + 2), expected) << c.video;
    }
}

TEST(ResourcePageText, ArticleIsCutBetweenTheMarkersWithoutTheAdvert) {
    const std::string start(kArticleStart), end(kArticleEnd), advert(ArticleAdvert());
    struct Case {
        std::string page, introduction;
    };
    const Case cases[] = {
        {"<p>head</p>" + start + "<p>第一段</p>" + advert + "<p>第二段</p>" + advert + end +
             "<p>foot</p>",
         "<p>第一段</p><p>第二段</p>"},
        {"x" + start + "only" + end + "between" + end, "only"},
        // Markers found regardless of case.
        {"<DIV ID=content class=\"content text-content clearfix\">up" + end, "up"},
        {"no markers at all", ""},
        {start + "no end", ""},
        {"no start" + end, ""},
        {end + "end before start" + start, ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ArticleIntroduction(c.page), c.introduction) << c.page;
}

TEST(ResourcePageText, ArticleAddressesBeginWithTheBlogHost) {
    const std::string blog = "http://blog.host.cn";
    struct Case {
        std::string introduction, prefix;
        bool article;
    };
    const Case cases[] = {
        {"http://blog.host.cn/s/blog_1.html", blog, true},
        {"http://blog.host.cn", blog, true},
        {"HTTP://blog.host.cn/s/blog_1.html", blog, false},
        {"http://blog.host.c", blog, false},
        {"这是一段介绍", blog, false},
        {"", blog, false},
        {"anything", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsArticleAddress(c.introduction, c.prefix), c.article) << c.introduction;
}

class ResourcePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        gui::UseHeadless();
        std::filesystem::create_directories(folder_ / "set" / "dt");
        sys::SetProgramFolder(folder_.windowsPath());
        main_ = &App().loadWindow({.className = "Velum", .geometry = {80, 60, 860, 540}}, {});
    }
    void TearDown() override {
        sys::SetProgramFolder({});
        sys::SetCurrentEndpoints(sys::DefaultEndpoints());
    }

    gui::Application& App() { return gui::Application::instance(); }
    gui::Window& Viewer() { return *ui::ViewerWindow::Loaded(); }
    gui::Control& Browser() { return ui::ViewerWindow::Browser(Viewer()); }
    std::string File(const char* name) { return testing::ReadBytes(folder_ / "set" / "dt" / name); }
    // The page as the browser took it, once it has loaded.
    std::string Shown() {
        for (int i = 0; i < 100 && (Browser().busy() || !Browser().document()); ++i)
            App().processPending(10);
        return gui::headless::PageText(Browser());
    }
    void UseBlog(const LoopbackHttpServer& server) {
        sys::Endpoints endpoints = sys::DefaultEndpoints();
        endpoints.blogPrefix = server.Url("");
        sys::SetCurrentEndpoints(endpoints);
    }

    testing::TempFolder folder_{"vm-resource-page"};
    gui::Window* main_ = nullptr;
};

TEST_F(ResourcePageTest, ThreeLineIntroductionIsShownIndentedWithFocus) {
    // As the link dispatch hands it over: every CR LF already turned into a break and indent.
    const std::string introduction = "第一行<br />" + kIndent + "第二行<br />" + kIndent + "第三行";
    ShowResourcePage(introduction, "网络编程示例", "");

    const std::string expected = kMeta + kIndent + introduction;
    EXPECT_EQ(File("js.html"), expected);
    EXPECT_EQ(Shown(), expected);
    EXPECT_EQ(Viewer().title(), "详细介绍:网络编程示例");
    EXPECT_EQ(Viewer().geometry(), (gui::Rect{80 + 156, 60 + 50, 700, 460}));
    EXPECT_TRUE(Viewer().visible());
    EXPECT_EQ(Viewer().parent(), main_);
    EXPECT_EQ(Browser().geometry(), (gui::Rect{-1, -1, 701, 461}));
    EXPECT_EQ(Browser().locationUrl(), folder_.windowsPath() + "set\\dt\\js.html");
    EXPECT_TRUE(Browser().hasFocus());
}

TEST_F(ResourcePageTest, VideoThenIntroductionReuseTheViewerAtItsPlace) {
    ShowResourcePage("", "演示", "http://v.test/p.swf");
    gui::Window* viewer = ui::ViewerWindow::Loaded();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->title(), "观看视频:演示");
    EXPECT_EQ(File("look.html"), VideoPage("http://v.test/p.swf"));
    EXPECT_EQ(Shown(), VideoPage("http://v.test/p.swf"));
    EXPECT_EQ(Browser().locationUrl(), folder_.windowsPath() + "set\\dt\\look.html");
    // The video page runs the player for its own movie; an introduction runs nothing.
    EXPECT_TRUE(Browser().pagePolicy().flash);
    EXPECT_TRUE(Browser().pagePolicy().scripts);
    EXPECT_EQ(Browser().pagePolicy().movie, "http://v.test/p.swf");

    // The user moves, resizes and minimises it; the next showing puts it back.
    viewer->setGeometry({5, 5, 300, 200});
    viewer->minimise();
    main_->setGeometry({100, 100, 860, 540});
    ShowResourcePage("短介绍", "第二个", "");
    EXPECT_EQ(ui::ViewerWindow::Loaded(), viewer);
    EXPECT_EQ(viewer->title(), "详细介绍:第二个");
    EXPECT_EQ(viewer->geometry(), (gui::Rect{256, 150, 700, 460}));
    EXPECT_FALSE(viewer->minimised());
    EXPECT_EQ(Browser().geometry(), (gui::Rect{-1, -1, 701, 461}));
    EXPECT_EQ(Shown(), kMeta + kIndent + "短介绍");
    EXPECT_FALSE(Browser().pagePolicy().scripts);
    EXPECT_FALSE(Browser().pagePolicy().flash);
    // The video page stays as it was written.
    EXPECT_EQ(File("look.html"), VideoPage("http://v.test/p.swf"));
}

TEST_F(ResourcePageTest, BlogArticleIsFetchedConvertedAndCut) {
    const std::string article =
        text::GbkToUtf8(std::string(kArticleStart) + "<p>源码说明</p>" +
                        std::string(ArticleAdvert()) + "<p>用法</p>" + std::string(kArticleEnd));
    LoopbackHttpServer blog([&](const testing::ReceivedRequest&, testing::HttpPeer& peer) {
        peer.Send(
            LoopbackHttpServer::Response(200, "Content-Type: text/html; charset=utf-8\r\n",
                                         "<html><body><h1>博客</h1>" + article + "</body></html>"));
    });
    UseBlog(blog);
    const std::string address = blog.Url("/s/blog_5e1f.html");
    ShowResourcePage(address, "文章", "");

    ASSERT_EQ(blog.RequestCount(), 1u);
    EXPECT_EQ(blog.Requests()[0].method, "GET");
    EXPECT_EQ(blog.Requests()[0].target, "/s/blog_5e1f.html");
    const std::string expected = kMeta + "<p>源码说明</p><p>用法</p>";
    EXPECT_EQ(File("js.html"), expected);
    EXPECT_EQ(Shown(), expected);
    EXPECT_EQ(Viewer().title(), "详细介绍:文章");
}

TEST_F(ResourcePageTest, FailedArticleFetchesGiveAnEmptyPage) {
    LoopbackHttpServer blog([&](const testing::ReceivedRequest& request, testing::HttpPeer& peer) {
        if (request.target == "/missing")
            peer.Send(LoopbackHttpServer::Response(404, "", "<p>not found</p>"));
        else if (request.target == "/reversed")
            peer.Send(LoopbackHttpServer::Response(
                200, "", std::string(kArticleEnd) + "x" + std::string(kArticleStart)));
        else
            peer.Close();
    });
    UseBlog(blog);
    for (const char* path : {"/missing", "/reversed", "/dropped"}) {
        testing::WriteBytes(folder_ / "set" / "dt" / "js.html", "old page");
        ShowResourcePage(blog.Url(path), "t", "");
        EXPECT_EQ(File("js.html"), kMeta) << path;
        EXPECT_EQ(Shown(), kMeta) << path;
    }
    EXPECT_TRUE(gui::headless::ShownBoxes().empty());
}

TEST_F(ResourcePageTest, ANewerShowingWinsOverAnArticleStillLoading) {
    LoopbackHttpServer blog([&](const testing::ReceivedRequest&, testing::HttpPeer& peer) {
        peer.Stall(300);
        peer.Send(LoopbackHttpServer::Response(
            200, "", std::string(kArticleStart) + "late article" + std::string(kArticleEnd)));
    });
    UseBlog(blog);
    // The click on another row arrives while the article is being fetched.
    App().post([] { ShowResourcePage("newer", "second", ""); });
    ShowResourcePage(blog.Url("/slow"), "first", "");
    EXPECT_EQ(File("js.html"), kMeta + kIndent + "newer");
    EXPECT_EQ(Viewer().title(), "详细介绍:second");
    EXPECT_EQ(Shown(), kMeta + kIndent + "newer");
}

TEST_F(ResourcePageTest, NothingWithoutTheMainWindow) {
    main_->close();
    ShowResourcePage("介绍", "t", "");
    ShowResourcePage("", "t", "http://v.test/p.swf");
    EXPECT_EQ(ui::ViewerWindow::Loaded(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "set" / "dt" / "js.html"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "set" / "dt" / "look.html"));
}

} // namespace
} // namespace vm::actions
