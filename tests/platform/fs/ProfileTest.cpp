#include "platform/fs/Profile.h"

#include "ScratchFolder.h"
#include "platform/fs/File.h"

#include <gtest/gtest.h>
#include <vector>

namespace vm::fs {
namespace {

using testing::ScratchFolder;

// A settings file as Windows programs and people leave them: comments, CR LF, duplicate keys
// and sections, mixed case, quotes, blanks, a value holding "=", and lines that are no entry.
const std::string kFixture = "; Vellumark settings\r\n"
                             "stray=before any section\r\n"
                             "[主窗口]\r\n"
                             "下载方式=1\r\n"
                             "  Key With Blanks  =  padded value  \r\n"
                             "Quoted=\"  inner  \"\r\n"
                             "Single='x'\r\n"
                             "Mixed=\"x'\r\n"
                             "Url=http://a/?x=1&y=2\r\n"
                             "dup=first\r\n"
                             "DUP=second\r\n"
                             "; comment=not an entry\r\n"
                             "garbage line\r\n"
                             "\r\n"
                             "[ Other ]\r\n"
                             "k=other\r\n"
                             "Empty=\r\n"
                             "[主窗口]\r\n"
                             "late=in the duplicate section\r\n";

class Profile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteFile(file, kFixture)); }
    std::string Contents() const { return ReadFile(file).value_or("<unreadable>"); }

    ScratchFolder folder;
    const std::string file = folder / "Start.ini";
};

TEST_F(Profile, ReadsWithWindowsMatching) {
    struct Case {
        std::string section;
        std::string key;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"主窗口", "下载方式", "1"},
        {"主窗口", "key with blanks", "padded value"},
        {" 主窗口 ", " KEY WITH BLANKS ", "padded value"},
        {"主窗口", "quoted", "  inner  "},
        {"主窗口", "Single", "x"},
        {"主窗口", "Mixed", "\"x'"},
        {"主窗口", "url", "http://a/?x=1&y=2"},
        {"主窗口", "dup", "first"},
        {"主窗口", "; comment", "<default>"},
        {"主窗口", "garbage line", "<default>"},
        {"主窗口", "stray", "<default>"},
        // Only the first section of a name is searched.
        {"主窗口", "late", "<default>"},
        {"OTHER", "K", "other"},
        {"other", "empty", ""},
        {"missing", "k", "<default>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadProfileString(file, c.section, c.key, "<default>"), c.expected) << c.key;
    EXPECT_EQ(ReadProfileString(folder / "none.ini", "主窗口", "下载方式", "d"), "d");
    EXPECT_EQ(ReadProfileString(folder.windows(), "主窗口", "下载方式"), "");
}

TEST_F(Profile, WritesEditOneLineAndKeepEverythingElse) {
    struct Case {
        std::string section;
        std::string key;
        std::string value;
        std::string from; // the bytes of the fixture that change ...
        std::string to;   // ... into these
    };
    const std::vector<Case> cases = {
        // In place, keeping the stored spelling of the key; only the first duplicate changes.
        {"主窗口", "DUP", "新值", "dup=first\r\n", "dup=新值\r\n"},
        {"主窗口", "key with blanks", "v=w", "  Key With Blanks  =  padded value  \r\n",
         "Key With Blanks=v=w\r\n"},
        // A new key goes after the section's last entry, before its comments and blank lines.
        {"主窗口", "数据库版本", "1.2", "DUP=second\r\n", "DUP=second\r\n数据库版本=1.2\r\n"},
        {"other", "new", "", "Empty=\r\n", "Empty=\r\nnew=\r\n"},
        // A new section goes at the end of the file.
        {"新节", "k", "v", "in the duplicate section\r\n",
         "in the duplicate section\r\n[新节]\r\nk=v\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFile(file, kFixture));
        ASSERT_TRUE(WriteProfileString(file, c.section, c.key, c.value)) << c.key;
        std::string expected = kFixture;
        expected.replace(expected.find(c.from), c.from.size(), c.to);
        EXPECT_EQ(Contents(), expected) << c.key;
        EXPECT_EQ(ReadProfileString(file, c.section, c.key, "<default>"), c.value) << c.key;
    }
    // Writing the value already there changes nothing.
    ASSERT_TRUE(WriteFile(file, kFixture));
    EXPECT_TRUE(WriteProfileString(file, "主窗口", "下载方式", "1"));
    EXPECT_EQ(Contents(), kFixture);
}

TEST_F(Profile, NewLinesFollowTheFilesLineEnds) {
    struct Case {
        std::string before;
        std::string after;
    };
    const std::vector<Case> cases = {
        {"", "[主窗口]\r\n下载打开=1\r\n"},
        {"[主窗口]\na=1\n", "[主窗口]\na=1\n下载打开=1\n"},
        {"[主窗口]\na=1", "[主窗口]\na=1\n下载打开=1"},
        {"[主窗口]", "[主窗口]\r\n下载打开=1"},
        {"[x]\r\na=1", "[x]\r\na=1\r\n[主窗口]\r\n下载打开=1\r\n"},
        {"\xEF\xBB\xBF[主窗口]\r\n", "\xEF\xBB\xBF[主窗口]\r\n下载打开=1\r\n"},
        {"[主窗口]\r\na=1\n", "[主窗口]\r\na=1\n下载打开=1\r\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFile(file, c.before));
        ASSERT_TRUE(WriteProfileString(file, "主窗口", "下载打开", "1"));
        EXPECT_EQ(Contents(), c.after) << c.before;
    }
    const std::string fresh = folder / "new.ini";
    ASSERT_TRUE(WriteProfileString(fresh, "主窗口", "下载方式", "1"));
    EXPECT_EQ(ReadFile(fresh), "[主窗口]\r\n下载方式=1\r\n");
}

TEST_F(Profile, FailedWritesLeaveTheFileAsItWas) {
    ASSERT_TRUE(SetAttributes(file, kAttributeReadOnly));
    EXPECT_FALSE(WriteProfileString(file, "主窗口", "下载方式", "0"));
    EXPECT_FALSE(DeleteProfileKey(file, "主窗口", "下载方式"));
    EXPECT_EQ(Contents(), kFixture);
    ASSERT_TRUE(SetAttributes(file, kAttributeNormal));

    // Texts that would add lines, entries or sections of their own are refused.
    const std::vector<std::vector<std::string>> refused = {
        {"主窗口", "下载方式", "1\r\n[x]"},
        {"主窗口", "a\nb", "1"},
        {"主]窗口", "k", "1"},
        {"主窗口", "k=v", "1"},
        {"主窗口", ";k", "1"},
        {"主窗口", "[k", "1"},
        {"主窗口", "", "1"},
        {"", "k", "1"},
        {"主窗口", "k", std::string("1\0x", 3)},
    };
    for (const auto& r : refused)
        EXPECT_FALSE(WriteProfileString(file, r[0], r[1], r[2])) << r[1];
    EXPECT_EQ(Contents(), kFixture);

    // A folder in the file's place is unreadable, not empty: it is never replaced.
    const std::string blocked = folder / "blocked.ini";
    ASSERT_TRUE(CreateFolder(blocked));
    EXPECT_FALSE(WriteProfileString(blocked, "s", "k", "v"));
    EXPECT_TRUE(IsFolder(blocked));
    EXPECT_FALSE(WriteProfileString("C:\\Start.ini", "s", "k", "v"));
}

TEST_F(Profile, GarbledContentIsKeptAndNeverCrashes) {
    const std::string garbled =
        std::string(1, '\0') + "\xFF\xFE[\r\n=\r\n[]\r\n[unclosed\r\n]=]\n\r\r\n\x95\x5C=\x81";
    ASSERT_TRUE(WriteFile(file, garbled));
    EXPECT_EQ(ReadProfileString(file, "unclosed", "]", "d"), "]");
    EXPECT_EQ(ReadProfileString(file, "主窗口", "k", "d"), "d");
    ASSERT_TRUE(WriteProfileString(file, "主窗口", "k", "v"));
    EXPECT_EQ(Contents(), garbled + "\r\n[主窗口]\r\nk=v\r\n");
    EXPECT_EQ(ReadProfileString(file, "主窗口", "k"), "v");
}

TEST_F(Profile, DeleteRemovesTheOneLine) {
    ASSERT_TRUE(DeleteProfileKey(file, "主窗口", "DUP"));
    std::string expected = kFixture;
    expected.erase(expected.find("dup=first\r\n"), 11);
    EXPECT_EQ(Contents(), expected);
    EXPECT_EQ(ReadProfileString(file, "主窗口", "dup"), "second");
    EXPECT_TRUE(DeleteProfileKey(file, "主窗口", "absent"));
    EXPECT_TRUE(DeleteProfileKey(folder / "none.ini", "主窗口", "dup"));
    EXPECT_FALSE(Exists(folder / "none.ini"));
    EXPECT_EQ(Contents(), expected);
}

} // namespace
} // namespace vm::fs
