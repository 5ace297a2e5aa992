#include "platform/fs/File.h"
#include "platform/fs/Program.h"

#include "ScratchFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace vm::fs {
namespace {

using testing::ScratchFolder;

class FileOps : public ::testing::Test {
protected:
    // Names of everything in the folder, to see that no temporary file was left behind.
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.native()))
            names.insert(entry.path().filename().string());
        return names;
    }
    unsigned Mode(std::string_view path) const {
        struct stat info {};
        ::stat(ToLinuxPath(path).c_str(), &info);
        return info.st_mode & 0777;
    }

    ScratchFolder folder;
};

TEST_F(FileOps, WriteAndReadBytesUnderChineseAndBlankNames) {
    const std::string file = folder / "资源 目录.bin";
    const std::string bytes("\x00\xFF\r\n\x95\x5C", 6);
    EXPECT_FALSE(Exists(file));
    ASSERT_TRUE(WriteFile(file, bytes));
    EXPECT_TRUE(Exists(file));
    EXPECT_FALSE(IsFolder(file));
    EXPECT_TRUE(IsFolder(folder.windows()));
    EXPECT_EQ(FileSize(file), 6);
    EXPECT_EQ(ReadFile(file), bytes);
    EXPECT_TRUE(std::filesystem::exists(folder.native() + testing::Utf8(u8"/资源 目录.bin")));

    ASSERT_TRUE(WriteFile(file, "ab"));
    EXPECT_EQ(ReadFile(file), "ab");
    ASSERT_TRUE(WriteFile(file, ""));
    EXPECT_EQ(FileSize(file), 0);

    EXPECT_EQ(ReadFile(folder / "missing"), std::nullopt);
    EXPECT_EQ(ReadFile(folder.windows()), std::nullopt);
    EXPECT_EQ(FileSize(folder.windows()), -1);
    EXPECT_FALSE(WriteFile(folder / "no\\such\\folder.txt", "x"));
}

TEST_F(FileOps, OtherDrivesAndSharesNameNothing) {
    for (const std::string path : {"C:\\x.txt", "\\\\server\\share\\x.txt", ""}) {
        EXPECT_FALSE(WriteFile(path, "x")) << path;
        EXPECT_FALSE(WriteFileAtomic(path, "x")) << path;
        EXPECT_FALSE(ReadFile(path).has_value()) << path;
        EXPECT_FALSE(Exists(path)) << path;
        EXPECT_FALSE(CreateFolder(path)) << path;
        EXPECT_FALSE(CopyFile(path, folder / "x", false)) << path;
    }
}

TEST_F(FileOps, AtomicWriteReplacesWholeAndKeepsPermissions) {
    const std::string file = folder / "Start.ini";
    ASSERT_TRUE(WriteFileAtomic(file, "first"));
    ASSERT_EQ(::chmod(ToLinuxPath(file).c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomic(file, "second"));
    EXPECT_EQ(ReadFile(file), "second");
    EXPECT_EQ(Mode(file), 0640u);
    EXPECT_EQ(Entries(), std::set<std::string>{"Start.ini"});

    // Through a symbolic link the file it points to is replaced, and the link stays.
    const std::string link = folder.native() + "/link.ini";
    std::filesystem::create_symlink(ToLinuxPath(file), link);
    ASSERT_TRUE(WriteFileAtomic(folder / "link.ini", "third"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(file), "third");

    EXPECT_FALSE(WriteFileAtomic(folder.windows(), "x"));
}

TEST_F(FileOps, ReadOnlyFileRefusesEveryChange) {
    const std::string file = folder / "locked.txt";
    ASSERT_TRUE(WriteFile(file, "keep"));
    ASSERT_TRUE(SetAttributes(file, kAttributeReadOnly));
    EXPECT_EQ(Mode(file) & 0222, 0u);

    EXPECT_FALSE(WriteFile(file, "lost"));
    EXPECT_FALSE(WriteFileAtomic(file, "lost"));
    EXPECT_FALSE(DeleteFile(file));
    ASSERT_TRUE(WriteFile(folder / "other.txt", "other"));
    EXPECT_FALSE(CopyFile(folder / "other.txt", file, false));
    EXPECT_FALSE(MoveFile(folder / "other.txt", file));
    EXPECT_EQ(ReadFile(file), "keep");
    EXPECT_EQ(Entries(), (std::set<std::string>{"locked.txt", "other.txt"}));

    ASSERT_TRUE(SetAttributes(file, kAttributeNormal));
    EXPECT_TRUE(WriteFile(file, "free"));
    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(SetAttributes(file, kAttributeNormal));
}

TEST_F(FileOps, ReadOnlyFolderRefusesNewAndRemovedEntries) {
    const std::string set = folder / "set";
    ASSERT_TRUE(CreateFolder(set));
    ASSERT_TRUE(WriteFile(set + "\\old.txt", "old"));
    ASSERT_TRUE(SetAttributes(set, kAttributeReadOnly));

    EXPECT_FALSE(WriteFile(set + "\\TEMP.TMP", "\x02\x03\x04"));
    EXPECT_FALSE(Exists(set + "\\TEMP.TMP"));
    EXPECT_FALSE(WriteFileAtomic(set + "\\old.txt", "new"));
    EXPECT_FALSE(CreateFolder(set + "\\dt"));
    EXPECT_FALSE(DeleteFile(set + "\\old.txt"));
    EXPECT_FALSE(CopyFile(set + "\\old.txt", set + "\\copy.txt", true));
    EXPECT_FALSE(MoveFile(set + "\\old.txt", folder / "moved.txt"));
    EXPECT_FALSE(RemoveFolder(set));
    // Existing files in it can still be rewritten in place, as on Windows.
    EXPECT_TRUE(WriteFile(set + "\\old.txt", "new"));
    EXPECT_EQ(ReadFile(set + "\\old.txt"), "new");

    ASSERT_TRUE(SetAttributes(set, kAttributeNormal));
    EXPECT_TRUE(CreateFolder(set + "\\dt"));
}

TEST_F(FileOps, FoldersAreCreatedOneLevelAndRemovedWhenEmpty) {
    const std::string parent = folder / "下载 目录";
    EXPECT_FALSE(CreateFolder(parent + "\\child"));
    ASSERT_TRUE(CreateFolder(parent));
    EXPECT_FALSE(CreateFolder(parent));
    EXPECT_TRUE(IsFolder(parent));
    EXPECT_TRUE(IsFolder(parent + "\\"));
    EXPECT_TRUE(Exists(parent));
    ASSERT_TRUE(CreateFolder(parent + "\\child\\"));
    EXPECT_FALSE(RemoveFolder(parent));
    EXPECT_FALSE(DeleteFile(parent + "\\child"));
    EXPECT_TRUE(RemoveFolder(parent + "\\child"));
    EXPECT_TRUE(RemoveFolder(parent));
    EXPECT_FALSE(RemoveFolder(parent));
    EXPECT_FALSE(Exists(parent));
}

TEST_F(FileOps, CopyAndMove) {
    const std::string source = folder / "源.txt";
    const std::string target = folder / "目标.txt";
    ASSERT_TRUE(WriteFile(source, "source"));
    ASSERT_EQ(::chmod(ToLinuxPath(source).c_str(), 0604), 0);

    ASSERT_TRUE(CopyFile(source, target, true));
    EXPECT_EQ(ReadFile(target), "source");
    EXPECT_EQ(Mode(target), 0604u);
    ASSERT_TRUE(WriteFile(target, "target"));
    EXPECT_FALSE(CopyFile(source, target, true));
    EXPECT_EQ(ReadFile(target), "target");
    EXPECT_TRUE(CopyFile(source, target, false));
    EXPECT_EQ(ReadFile(target), "source");
    EXPECT_FALSE(CopyFile(source, source, false));
    EXPECT_FALSE(CopyFile(folder / "missing", target, false));
    EXPECT_FALSE(CopyFile(folder.windows(), folder / "dir copy", false));
    EXPECT_EQ(ReadFile(source), "source");

    ASSERT_TRUE(WriteFile(target, "old target"));
    ASSERT_TRUE(MoveFile(source, target));
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(ReadFile(target), "source");
    EXPECT_FALSE(MoveFile(source, target));

    ASSERT_TRUE(CreateFolder(folder / "a"));
    ASSERT_TRUE(MoveFile(folder / "a", folder / "b"));
    EXPECT_TRUE(IsFolder(folder / "b"));
    EXPECT_FALSE(MoveFile(target, folder / "b"));
    EXPECT_EQ(Entries(), (std::set<std::string>{"b", testing::Utf8(u8"目标.txt")}));
}

TEST_F(FileOps, FindFirstFileMatchesLikeWindows) {
    for (const std::string name : {"Data.7z", "list.htm", "b.TXT", "a.txt", "\x95\x5C.txt", "x"})
        ASSERT_TRUE(WriteFile(folder / name, "")) << name;
    ASSERT_TRUE(CreateFolder(folder / "dt"));

    struct Case {
        std::string pattern;
        std::string first;
    };
    const std::vector<Case> cases = {
        {"DATA.7Z", "Data.7z"},
        {"*.txt", "a.txt"},
        {"B.*", "b.TXT"},
        {"?.txt", "a.txt"},
        {"\x95\x5C.*", "\x95\x5C.txt"},
        {"*.htm*", "list.htm"},
        {"l*t*m", "list.htm"},
        {"d?", "dt"},
        {"*.*", "Data.7z"},
        {"*", "Data.7z"},
        {"*.doc", ""},
        {"list.htm?", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindFirstFile(folder / c.pattern), c.first) << c.pattern;

    // "?" is one character, two bytes for a Chinese one.
    ASSERT_TRUE(CreateFolder(folder / "g"));
    ASSERT_TRUE(WriteFile(folder / "g\\ab.txt", ""));
    ASSERT_TRUE(WriteFile(folder / "g\\\x95\x5C.txt", ""));
    EXPECT_EQ(FindFirstFile(folder / "g\\?.txt"), "\x95\x5C.txt");
    EXPECT_TRUE(Exists(folder / "*.TXT"));
    EXPECT_FALSE(Exists(folder / "*.doc"));
    EXPECT_EQ(FindFirstFile(folder / "missing\\*"), "");
    EXPECT_EQ(FindFirstFile("C:\\*"), "");
}

TEST_F(FileOps, ProgramsAreToldByTheirFirstBytes) {
    const std::string native = folder / "native.exe";
    std::filesystem::copy_file("/bin/true", ToLinuxPath(native));
    EXPECT_EQ(ProgramKindOf(native), ProgramKind::Native);
    ASSERT_TRUE(WriteFile(folder / "script.exe", "#! /bin/sh -e\nexit 0\n"));
    EXPECT_EQ(ProgramKindOf(folder / "script.exe"), ProgramKind::Script);
    // Another class, another machine, a PE image, no interpreter, an unfinished "#!" line.
    std::string elf32 = ReadFile(native).value_or("").substr(0, 64);
    elf32[4] = 1;
    std::string otherMachine = ReadFile(native).value_or("").substr(0, 64);
    // EM_AARCH64 where this runs on x86-64 (62), else EM_X86_64.
    otherMachine[18] = static_cast<char>(otherMachine[18] == 62 ? 183 : 62);
    otherMachine[19] = 0;
    for (const std::string& bytes :
         {elf32, otherMachine, std::string("MZ\x90\x00", 4), std::string("#!/no/such/sh\n"),
          std::string("#!\n"), std::string("#!/bin/sh"), std::string()}) {
        ASSERT_TRUE(WriteFile(folder / "foreign.exe", bytes));
        EXPECT_EQ(ProgramKindOf(folder / "foreign.exe"), ProgramKind::Foreign) << bytes;
    }
    EXPECT_EQ(ProgramKindOf(folder / "missing.exe"), ProgramKind::Missing);
    EXPECT_EQ(ProgramKindOf(folder.windows()), ProgramKind::Missing);
    std::filesystem::create_symlink("/bin/true", ToLinuxPath(folder / "link.exe"));
    EXPECT_EQ(ProgramKindOf(folder / "link.exe"), ProgramKind::Missing);

    // The execute bit: given to those who may read, and only to a regular file.
    ASSERT_TRUE(WriteFile(folder / "plain.exe", "#!/bin/sh\n"));
    ::chmod(ToLinuxPath(folder / "plain.exe").c_str(), 0640);
    EXPECT_FALSE(IsExecutable(folder / "plain.exe"));
    EXPECT_TRUE(MakeExecutable(folder / "plain.exe"));
    EXPECT_EQ(Mode(folder / "plain.exe"), 0750u);
    EXPECT_TRUE(IsExecutable(folder / "plain.exe"));
    EXPECT_FALSE(MakeExecutable(folder / "link.exe"));
    EXPECT_FALSE(MakeExecutable(folder / "missing.exe"));
}

} // namespace
} // namespace vm::fs
