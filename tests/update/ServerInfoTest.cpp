// The server information reader: the decoding steps on exact inputs, and whole fetches from the
// test forum over loopback through the real request objects and "Adodb.Stream".

#include "update/ServerInfo.h"

#include "platform/automation/Com.h"
#include "platform/http/RequestObject.h"
#include "support/TestForum.h"

#include <gtest/gtest.h>

namespace vm::update {
namespace {

using testing::TestForum;
using Page = TestForum::Page;
using Mode = TestForum::PageMode;

TEST(ServerInfoDecoding, TextBetweenMarkers) {
    struct Case {
        std::string page, expected;
    } cases[] = {
        {"<p>数据流[QUJD]数据流</p>", "QUJD"},
        {"数据流[QUJD", "QUJD"},                                // no end marker: the rest
        {"QUJD]数据流", ""},                                    // no start marker
        {"]数据流 数据流[QUJD]数据流 数据流[X]数据流", "QUJD"}, // an end before the start
        {std::string("数据流[QU") + '\0' + "JD]数据流", "QU"},  // the text ends at a zero byte
        {"数据流[]数据流", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextBetweenMarkers(c.page), c.expected) << c.page;
}

TEST(ServerInfoDecoding, Base64) {
    struct Case {
        std::string encoded, expected;
    } cases[] = {
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QQ==", "A"},
        {"QU\r\nJD\r\n", "ABC"},
        {"QUJD!QUJD", "ABC"}, // decoding stops at a byte outside the alphabet
        {"", ""},
        {"+/8=", "\xFB\xFF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeBase64(c.encoded), c.expected) << c.encoded;
}

TEST(ServerInfoDecoding, ValueOfKey) {
    const std::string document =
        "程序版本(1.5 正式版)程序版本空值()空值版本号(3)版本号坏值(没有结尾数据库地址(a)数据库地址";
    struct Case {
        std::string key, expected;
    } cases[] = {
        {"程序版本", "1.5 正式版"},
        {"版本号", "3"},
        {"空值", ""},
        {"缺少", ""},
        {"坏值", ""}, // no closing ")坏值"
        {"数据库地址", "a"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValueIn(document, c.key), c.expected) << c.key;
}

class ServerInfoFetch : public ::testing::Test {
protected:
    void SetUp() override {
        forum.SetEntry("程序版本", "1.4 测试版");
        forum.SetEntry("数据库版本", "20");
        forum.SetEntry("数据库地址", forum.FilePage("db"));
    }
    std::string Fetch(Page page) { return reader.Fetch(forum.PageAddress(page)); }

    TestForum forum;
    ServerInfoReader reader;
};

TEST_F(ServerInfoFetch, ReadsTheDocumentOfAGbkPage) {
    EXPECT_EQ(Fetch(Page::Primary), forum.DocumentText());
    EXPECT_EQ(reader.ValueOf("程序版本"), "1.4 测试版");
    EXPECT_EQ(reader.ValueOf("数据库地址"), forum.FilePage("db"));
}

TEST_F(ServerInfoFetch, AUtf8PageIsReadAfterConversion) {
    forum.SetPageMode(Page::Primary, Mode::Utf8Document);
    EXPECT_EQ(Fetch(Page::Primary), forum.DocumentText());
    EXPECT_EQ(reader.ValueOf("数据库版本"), "20");
}

TEST_F(ServerInfoFetch, APageWithoutEndMarkerDecodesTheRest) {
    std::string page = TestForum::InformationPage("版本号(1)版本号");
    page.resize(page.find("]"));
    forum.SetRawPage(Page::Primary, page);
    EXPECT_EQ(Fetch(Page::Primary), "版本号(1)版本号");
}

TEST_F(ServerInfoFetch, FailuresGiveAnEmptyDocument) {
    for (const Mode mode : {Mode::NoMarkers, Mode::ServerError, Mode::Refuse}) {
        reader.SetDocument("版本号(1)版本号");
        forum.SetPageMode(Page::Primary, mode);
        EXPECT_EQ(Fetch(Page::Primary), "") << static_cast<int>(mode);
        EXPECT_EQ(reader.Document(), "");
        EXPECT_EQ(reader.ValueOf("版本号"), "");
    }
    const int closedPort = testing::ClosedPort();
    EXPECT_EQ(reader.Fetch("http://127.0.0.1:" + std::to_string(closedPort) + "/x.html"), "");
}

TEST_F(ServerInfoFetch, FallsBackToTheNextRequestObject) {
    // Without the first class the request goes through "MSXML2.ServerXMLHTTP.6.0".
    automation::RegisterClass("WinHttp.WinHttpRequest.5.1", "",
                              [] { return std::shared_ptr<automation::Dispatch>(); });
    const std::string document = Fetch(Page::Primary);
    automation::RegisterClass("WinHttp.WinHttpRequest.5.1", "", &http::NewRequestObject);
    EXPECT_EQ(document, forum.DocumentText());
    EXPECT_EQ(automation::ComInitCount(), 0);
}

} // namespace
} // namespace vm::update
