#include "platform/fs/Path.h"

#include "ScratchFolder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace vm::fs {
namespace {

using testing::Utf8;

// GBK "\x95\x5C" (U+661E) ends in the byte of "\".
const std::string kTrailBackslash = "\x95\x5C";
const std::string kTrailBackslashUtf8 = Utf8(u8"\u661E");

struct MappingCase {
    std::string windows;
    std::string native;
};

TEST(PathMapping, WindowsToLinux) {
    const std::vector<MappingCase> cases = {
        {"Z:\\home\\a\\x", "/home/a/x"},
        {"z:\\home\\a\\", "/home/a/"},
        {"Z:\\", "/"},
        {"Z:", "/"},
        {"Z:tmp", "/tmp"},
        {"Z:/home/a", "/home/a"},
        {"\\home\\a", "/home/a"},
        {"set\\Start.ini", "set/Start.ini"},
        {"set\\dt\\", "set/dt/"},
        {"Z:\\" + kTrailBackslash + "\\a", "/" + kTrailBackslashUtf8 + "/a"},
        {"Z:\\a" + kTrailBackslash, "/a" + kTrailBackslashUtf8},
        {"Z:\\资源目录\\测试 1.txt", Utf8(u8"/资源目录/测试 1.txt")},
        {std::string("Z:\\a\0b", 6), "/a"},
        // "." and ".." resolve by the text, never above the root; repeated separators collapse.
        {"Z:\\a\\.\\b\\..\\c", "/a/c"},
        {"Z:\\..\\..\\etc", "/etc"},
        {"Z:\\a\\..", "/"},
        {"Z:\\a\\\\b\\\\", "/a/b/"},
        {"set\\..\\..\\x", "../x"},
        {".\\", "."},
        // No Linux meaning: other drives, shares, device paths.
        {"C:\\Windows", ""},
        {"c:", ""},
        {"\\\\server\\share\\x", ""},
        {"\\\\?\\Z:\\x", ""},
        {"", ""},
        // Bytes that are not GBK would silently name another file.
        {"Z:\\a\xFF\xFF", ""},
        {"Z:\\a\x81", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToLinuxPath(c.windows), c.native) << c.windows;
}

TEST(PathMapping, LinuxToWindows) {
    const std::vector<MappingCase> cases = {
        {"Z:\\home\\a\\x", "/home/a/x"},
        {"Z:\\", "/"},
        {"Z:\\home\\a\\", "/home/a/"},
        {"set\\Start.ini", "set/Start.ini"},
        {"Z:\\资源目录\\" + kTrailBackslash, Utf8(u8"/资源目录/\u661E")},
        {"Z:\\?", std::string("/\xF0\x9F\x98\x80")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FromLinuxPath(c.native), c.windows) << c.native;
        if (c.windows.find('?') == std::string::npos) {
            EXPECT_EQ(ToLinuxPath(c.windows), c.native) << c.windows;
        }
    }
}

struct PieceCase {
    std::string path;
    std::string folder;
    std::string name;
    std::string extension;
};

TEST(PathPieces, FolderNameExtension) {
    const std::vector<PieceCase> cases = {
        {"Z:\\a\\b.txt", "Z:\\a\\", "b.txt", ".txt"},
        {"Z:\\a\\", "Z:\\a\\", "", ""},
        {"file", "", "file", ""},
        {"a.tar.gz", "", "a.tar.gz", ".gz"},
        {"Z:\\a.b\\c", "Z:\\a.b\\", "c", ""},
        {"Z:\\a\\.hidden", "Z:\\a\\", ".hidden", ".hidden"},
        {"name.", "", "name.", "."},
        {"x. y", "", "x. y", ""},
        {"Z:\\a\\" + kTrailBackslash, "Z:\\a\\", kTrailBackslash, ""},
        {"Z:\\" + kTrailBackslash + ".7z", "Z:\\", kTrailBackslash + ".7z", ".7z"},
        {"set\\资源.目录\\测试.txt", "set\\资源.目录\\", "测试.txt", ".txt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
        EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
    }
}

TEST(PathProcess, ExecutableAndTempFolder) {
    const std::string self = ExecutablePath();
    ASSERT_TRUE(self.starts_with("Z:\\")) << self;
    EXPECT_EQ(FileNameOf(self), "platform_fs_test");
    struct stat info {};
    EXPECT_EQ(::stat(ToLinuxPath(self).c_str(), &info), 0);

    const char* saved = std::getenv("TMPDIR");
    const std::string restore = saved ? saved : "";
    ::setenv("TMPDIR", Utf8(u8"/var/tmp/临时").c_str(), 1);
    EXPECT_EQ(TempFolder(), "Z:\\var\\tmp\\临时\\");
    ::setenv("TMPDIR", "relative", 1);
    EXPECT_EQ(TempFolder(), "Z:\\tmp\\");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(TempFolder(), "Z:\\tmp\\");
    if (saved)
        ::setenv("TMPDIR", restore.c_str(), 1);
}

} // namespace
} // namespace vm::fs
