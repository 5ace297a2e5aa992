// The link commands of the list rows, clicked in the headless main window's browser.

#include "actions/LinkCommand.h"
#include "catalogue/ListWindow.h"
#include "catalogue/MemoryCatalogue.h"
#include "platform/shell/OpenerRecorder.h"
#include "sys/Settings.h"
#include "ui/ViewerWindow.h"

#include <gtest/gtest.h>

namespace vm::actions {
namespace {

using catalogue::testing::ListWindow;
using catalogue::testing::MemoryCatalogue;

TEST(LinkCommandTest, ParsingTable) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"file:///Z:/a/list.htm#xz#3#xz#", "#xz#", "3"},
        {"#ck#Z:\\a b\\c.rar#ck##xz#3#xz#", "#ck#", "Z:\\a b\\c.rar"},
        {"#xz#3#xz##ck#Z:\\c.rar#ck#", "#ck#", "Z:\\c.rar"},
        {"#XZ#4#Xz#", "#xz#", "4"},
        {"#ss#bob lee#ss#", "#ss#", "bob lee"},
        {"#id#7#id##js#1#js#", "#id#", "7"},
        {"#sp#2#sp#", "#sp#", "2"},
        {"#js#5#js#", "#js#", "5"},
        {"#xz#3", "", ""},
        {"#xz##xz#", "", ""},
        {"about:blank", "", ""},
    };
    for (const auto& [address, marker, argument] : cases) {
        const LinkCommand command = ParseLinkCommand(address);
        EXPECT_EQ(command.marker, marker) << address;
        EXPECT_EQ(command.argument, argument) << address;
    }
}

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() {
        test::OpenerRecorder::Instance().Clear();
        MemoryCatalogue m;
        m.Category(1, 1, 0, "Cat").Category(2, 1, 0, "Other");
        for (int i = 1; i <= 12; ++i) {
            catalogue::ResourceRecord& r = m.Resource(1, "r" + std::to_string(i), 0, 100 + i);
            r.author = "bob lee";
            r.address = "http://host/" + std::to_string(i) + ".rar";
        }
        catalogue::ResourceRecord& bare = m.Resource(2, "bare", 0, 500);
        bare.introduction = "first\r\nsecond";
        bare.video = "http://video.test/v.swf";
        catalogue::SetCatalogueData(m.Build());
        catalogue::BuildTree(w_.C("树型框1"));
    }
    // Clicks a link in the list; the new window must never open.
    void Click(std::string_view address) {
        EXPECT_FALSE(gui::headless::ClickNewWindowLink(w_.C("超文本浏览框1"), address));
    }
    std::string ReadPage(std::string_view file) {
        return vm::testing::ReadBytes(w_.folder().path() / "set" / "dt" / std::string(file));
    }

    ListWindow w_{DispatchLinkCommand};
};

TEST_F(DispatchTest, CategoryOfARecordAtItsPage) {
    gui::Control& tree = w_.C("树型框1");
    gui::headless::SelectItem(tree, tree.children(0)[1], 1);
    catalogue::ShowList(ui::kSearch); // the prompt: nothing
    gui::headless::TypeText(w_.C("编辑框_搜索框"), "@bob");
    catalogue::ShowList(ui::kSearch);
    ASSERT_EQ(catalogue::CurrentList().size(), 12u);
    Click("#id#10#id#");
    EXPECT_EQ(w_.Title(), "Cat");
    EXPECT_EQ(catalogue::CurrentPage(), 2);
    EXPECT_EQ(w_.PageBox(), "2");
    EXPECT_EQ(tree.currentItem(), 0);
}

TEST_F(DispatchTest, AuthorSearchKeepsTheWholeName) {
    Click("file:///Z:/x/list.htm#ss#bob lee#ss#");
    EXPECT_EQ(w_.C("编辑框_搜索框").text(), "@bob lee");
    EXPECT_EQ(w_.Title(), "搜索结果");
    EXPECT_EQ(catalogue::CurrentList().size(), 12u);
}

TEST_F(DispatchTest, DownloadWithoutAddressSaysSo) {
    catalogue::ShowList(ui::kCategory, 2);
    Click("#xz#1#xz#");
    const auto& boxes = gui::headless::ShownBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "暂时没有下载的地址,无法下载!");
}

TEST_F(DispatchTest, PositionsOutsideTheListDoNothing) {
    catalogue::ShowList(ui::kCategory, 2);
    for (const char* address : {"#xz#0#xz#", "#xz#2#xz#", "#xz#-1#xz#", "#xz#x#xz#", "nothing"})
        Click(address);
    EXPECT_TRUE(gui::headless::ShownBoxes().empty());
    EXPECT_EQ(ui::ViewerWindow::Loaded(), nullptr);
}

TEST_F(DispatchTest, IntroductionAndVideoInTheViewer) {
    catalogue::ShowList(ui::kCategory, 2);
    Click("#JS#1#JS#");
    ASSERT_NE(ui::ViewerWindow::Loaded(), nullptr);
    EXPECT_NE(ReadPage("js.html").find("first<br />&nbsp;&nbsp;&nbsp;&nbsp;second"),
              std::string::npos);
    Click("#sp#1#sp#");
    EXPECT_NE(ReadPage("look.html").find("http://video.test/v.swf"), std::string::npos);
}

TEST_F(DispatchTest, FolderOfADownloadedFile) {
    const auto folder = w_.folder().path() / "done";
    std::filesystem::create_directories(folder);
    vm::testing::WriteBytes(folder / "a b.rar", "rar");
    // With no file manager on the bus, the folder opens.
    Click("#ck#" + w_.folder().windowsPath() + "done\\a b.rar#ck##xz#1#xz#");
    const auto opened = test::OpenerRecorder::Instance().WaitFor(1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("done"), std::string::npos) << opened[0];
    EXPECT_TRUE(gui::headless::ShownBoxes().empty());
}

} // namespace
} // namespace vm::actions
