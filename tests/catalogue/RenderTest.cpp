#include "catalogue/Render.h"
#include "catalogue/MemoryCatalogue.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vm::catalogue {
namespace {

using testing::MemoryCatalogue;
using vm::testing::TempFolder;
using vm::testing::WriteBytes;

constexpr const char* kTop = "<div id=\"bg\">\r\n"
                             "<table width=\"100%\" border=\"0\" cellpadding=\"5\" "
                             "cellspacing=\"0\">\r\n"
                             "\t<tr class=\"dreamdu\">\r\n"
                             "\t\t<td width=\"80%\" valign=\"bottom\">\r\n"
                             "\t\t\t<strong>";
constexpr const char* kBottom = "\r\n\t</tr>\r\n</table>\r\n</div>\r\n\r\n";
constexpr const char* kDown = "<td width=\"10%\"><a href=\"#xz#1#xz#\" TITLE=\"点击下载\" "
                              "target=\"_blank\"><img src=\"down.gif\" width=\"69\" "
                              "height=\"23\" border=\"0\" align=\"right\" /></a></td>";
constexpr const char* kVideo = "<td width=\"10%\"><a href=\"#sp#1#sp#\" TITLE=\"点击观看视频\" "
                               "target=\"_blank\"><img src=\"look.gif\" width=\"69\" "
                               "height=\"23\" border=\"0\" align=\"right\" /></a></td>";

std::string Row(const std::string& title, const std::string& introduction, const std::string& date,
                const std::string& download, const std::string& video) {
    return kTop + title + "</strong>" + introduction + "<br />\r\n\t\t\t<span class=\"STYLE6\">" +
           date + "</span>\r\n\t\t</td>\r\n\t\t" + download + "\r\n\t\t" + video + kBottom;
}

class RenderTest : public ::testing::Test {
protected:
    RenderTest() { catalogue_.Category(1, 1, 0, "Tools").Category(2, 2, 1, text::Gbk(u8"工具")); }

    ResourceRecord& Add(std::string title) {
        ResourceRecord& r = catalogue_.Resource(2, std::move(title));
        r.author = "bob";
        r.address = "http://host/" + std::to_string(catalogue_.tables().list.size()) + ".rar";
        r.modified = 1367884800; // 2013-05-07 00:00 UTC
        return r;
    }

    // Renders page `page` of the category's rows in table order.
    std::string Render(long long page = 1, std::string_view keywords = "", bool latest = false,
                       std::string_view listTitle = "") {
        data_ = catalogue_.Build();
        std::vector<std::uint32_t> rows(data_->List().size());
        for (std::uint32_t i = 0; i < rows.size(); ++i)
            rows[i] = i;
        list_ = ResourceList(data_, rows);
        pages_ = Paginate(list_.size());
        folder_ = folderOnDisk_.windowsPath();
        PageInput in;
        in.list = &list_;
        in.pages = &pages_;
        in.page = page;
        in.keywordText = keywords;
        in.latestShown = latest;
        in.listTitle = listTitle;
        in.searchBoxText = searchBox_;
        in.programFolder = folder_;
        in.data = data_.get();
        return RenderPageHtml(in);
    }

    std::filesystem::path ResourceFolder() const {
        return folderOnDisk_.path() / text::GbkToUtf8("资源目录") / "Tools" /
               text::GbkToUtf8(text::Gbk(u8"工具"));
    }

    MemoryCatalogue catalogue_;
    TempFolder folderOnDisk_{"vm-render"};
    std::shared_ptr<const CatalogueData> data_;
    ResourceList list_;
    PageTable pages_;
    std::string folder_;
    std::string searchBox_;
};

TEST_F(RenderTest, ARowExactlyWithEveryTextEscaped) {
    ResourceRecord& r = Add("Tool<1> & co");
    r.author = "bob \"b\"";
    r.size = "1 MB";
    r.style = 2;
    r.introduction = "intro";
    r.video = "http://video";
    const std::string title = "Tool&lt;1&gt; &amp; co";
    EXPECT_EQ(Render(), Row("<span TITLE=\"作者:bob &quot;b&quot; 文件大小:1 MB\" class=\"em2\">" +
                                title + "</span>",
                            "<a href=\"#js#1#js#\" TITLE=\"点击显示 &quot;" + title +
                                "&quot; 的详细介绍\" target=\"_blank\"><span class=\"SuoShu\" "
                                ">[详细介绍]</span></a>",
                            "2013年5月7日 ", kDown, kVideo));
}

TEST_F(RenderTest, LatestAndSearchListsLinkTheCategory) {
    Add("t");
    const std::string name = text::Gbk(u8"工具");
    const std::string link = "<a href=\"#id#1#id#\" TITLE=\"点击跳转到 &quot;" + name +
                             "&quot; 栏目下\" target=\"_blank\"><span class=\"SuoShu\" >" + name +
                             "</span></a>";
    EXPECT_EQ(Render(1, "", true), Row("<span TITLE=\"作者:bob \" class=\"em0\">t</span>", "",
                                       "2013年5月7日 " + link, kDown, ""));
}

TEST_F(RenderTest, WithoutAddressTheIntroductionTakesTheDownloadColumn) {
    ResourceRecord& r = Add("t\"q");
    r.address.clear();
    r.introduction = "x";
    r.video = "v";
    EXPECT_EQ(Render(),
              Row("<span TITLE=\"作者:bob \" class=\"em0\">t&quot;q</span>", "", "2013年5月7日 ",
                  "<td width=\"10%\"><a href=\"#js#1#js#\" "
                  "TITLE=\"点击查看&quot;t&quot;q&quot;\" target=\"_blank\"><img "
                  "src=\"see.gif\" width=\"69\" height=\"23\" border=\"0\" "
                  "align=\"right\" /></a></td>",
                  kVideo));
}

TEST_F(RenderTest, ADownloadedArchiveOffersItsFolderUntilItIsDeleted) {
    Add("Demo 100%");
    std::filesystem::create_directories(ResourceFolder());
    WriteBytes(ResourceFolder() / "demo 100%.RAR", "rar");
    const std::string path =
        folderOnDisk_.windowsPath() + "资源目录\\Tools\\" + text::Gbk(u8"工具") + "\\demo 100%.RAR";
    const std::string html = Render();
    EXPECT_NE(html.find("<a href=\"#ck#" + text::ReplaceAll(path, "%", "%25") +
                        "#ck#\" TITLE=\"点击打开文件 &quot;demo 100%.RAR&quot; 所处目录\" "
                        "target=\"_blank\"><img src=\"see.gif\""),
              std::string::npos)
        << html;
    EXPECT_EQ(html.find("#xz#"), std::string::npos);

    std::filesystem::remove(ResourceFolder() / "demo 100%.RAR");
    EXPECT_NE(Render().find(kDown), std::string::npos);
}

TEST_F(RenderTest, WildcardsInATitleMatchOnlyThemselves) {
    Add("a*b");
    std::filesystem::create_directories(ResourceFolder());
    WriteBytes(ResourceFolder() / "axb.rar", "rar");
    EXPECT_NE(Render().find("#xz#1#xz#"), std::string::npos);
    WriteBytes(ResourceFolder() / "a*b.rar", "rar");
    EXPECT_NE(Render().find("a*b.rar#ck#"), std::string::npos);
}

TEST_F(RenderTest, AFolderIsFoundEvenWhenTheFirstRowOfItsCategoryHasNoAddress) {
    Add("first").address.clear();
    Add("second");
    std::filesystem::create_directories(ResourceFolder());
    WriteBytes(ResourceFolder() / "second.rar", "rar");
    const std::string html = Render();
    EXPECT_NE(html.find("second.rar#ck#"), std::string::npos);
}

TEST_F(RenderTest, KeywordsAreMarkedInTheTitlesOwnCase) {
    Add("Abc and abc");
    EXPECT_NE(Render(1, "abc").find("<span class=\"em1\">Abc</span> and <span "
                                    "class=\"em1\">Abc</span>"),
              std::string::npos);
}

TEST_F(RenderTest, MarkingTable) {
    const std::string prompt = "请输入您要搜索的关键字";
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases = {
        {"plain", {}, "plain"},
        {"a<b", {"a"}, "<span class=\"em1\">a</span>&lt;b"},
        {"x&y", {"&"}, "x<span class=\"em1\">&amp;</span>y"},
        // "span" matches neither the markup of "an" nor across it.
        {"span class",
         {"an", "span", "class"},
         "sp<span class=\"em1\">an</span> <span class=\"em1\">class</span>"},
        {"bob@x", {"@x"}, "bob<span class=\"em1\">@x</span>"},
        {"bob", {"@bob"}, "bob"},
        {"abc", {"", "z"}, "abc"},
        {"prompt", {prompt}, "prompt"},
    };
    for (const auto& [title, keywords, html] : cases)
        EXPECT_EQ(MarkKeywords(title, keywords), html) << title;
}

TEST_F(RenderTest, PlaceholderTextInATitleStaysText) {
    Add("t_日期 t_下载");
    const std::string html = Render();
    EXPECT_NE(html.find(">t_日期 t_下载</span>"), std::string::npos);
    EXPECT_NE(html.find("2013年5月7日 </span>"), std::string::npos);
}

TEST_F(RenderTest, SecondPageNumbersItsLinksByListPosition) {
    for (int i = 1; i <= 17; ++i)
        Add("r" + std::to_string(i));
    const std::string html = Render(2);
    EXPECT_NE(html.find("#xz#9#xz#"), std::string::npos);
    EXPECT_NE(html.find("#xz#16#xz#"), std::string::npos);
    EXPECT_EQ(html.find("#xz#8#xz#"), std::string::npos);
    EXPECT_EQ(html.find("#xz#17#xz#"), std::string::npos);
    std::size_t rows = 0;
    for (std::size_t at = 0; (at = html.find("<div id=\"bg\">", at)) != std::string::npos; ++at)
        ++rows;
    EXPECT_EQ(rows, 8u);
    EXPECT_NE(Render(3).find("#xz#17#xz#"), std::string::npos);
}

TEST_F(RenderTest, AnEmptySearchNamesTheTextAndOffersTheAuthorSearch) {
    searchBox_ = "x<y";
    EXPECT_EQ(Render(1, searchBox_, false, "搜索结果"),
              "<h4 align=center><br />未找到关于\"x&lt;y\"结果<br /><br />若您要搜索关于作者的"
              "相关信息 请在关键字前面添加 @<br /><br />例如:<a href=\"#ss#x&lt;y#ss#\" "
              "TITLE=\"点击搜索作者 x&lt;y\" target=\"_blank\"><span class=\"SuoShu\" "
              ">@x&lt;y</span></a></h2>");
    EXPECT_EQ(Render(1, "", false, "最近更新"), "");
}

TEST_F(RenderTest, DatesInUtcPlusEight) {
    const std::vector<std::pair<long long, std::string>> cases = {
        {0, "1970年1月1日"},
        {57599, "1970年1月1日"},
        {57600, "1970年1月2日"},
        {-28800, "1970年1月1日"},
        {-28801, "1969年12月31日"},
        {1367884800, "2013年5月7日"},
        {951782400, "2000年2月29日"},
        {2147483647, "2038年1月19日"},
        {-2147483648LL, "1901年12月14日"},
    };
    for (const auto& [seconds, date] : cases)
        EXPECT_EQ(DateText(seconds), date) << seconds;
}

} // namespace
} // namespace vm::catalogue
