// UnpackArchive through the embedded archive library, loaded from memory, on real 7z archives
// made with 7zz at test time.

#include "sys/Archive.h"
#include "platform/fs/Path.h"
#include "support/SevenZip.h"
#include "support/TempFolder.h"
#include "sys/CallAddress.h"

#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace vm::sys {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveItem;
using testing::MakeSevenZip;
using testing::TempFolder;

std::string Utf8(std::u8string_view text) {
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

// Bytes that look like x86 code (calls and jumps), which the BCJ filter rewrites.
std::string CodeLikeBytes(std::size_t size) {
    std::string bytes;
    for (std::uint32_t i = 0; bytes.size() < size; ++i) {
        bytes += '\xE8';
        bytes.append(reinterpret_cast<const char*>(&i), 4);
        bytes += "\x55\x89\xE5\x5D\xC3";
    }
    bytes.resize(size);
    return bytes;
}

const std::vector<ArchiveItem>& SampleItems() {
    static const std::vector<ArchiveItem> items = {
        {Utf8(u8"资源目录/测试.txt"), Utf8(u8"测试内容\r\n第二行\r\n"), {}},
        {Utf8(u8"资源目录/子目录/图片.bin"), RandomBytes(70000, 1), {}},
        {"empty.txt", "", {}},
        {"folder/", "", {}},
        {"set/TreeList.mdb", std::string(5000, 'm') + RandomBytes(3000, 2), {}},
        {"code.exe", CodeLikeBytes(40000), {}},
    };
    return items;
}

// The tree below `root`: each path (UTF-8, "/" separated) with its contents, "<dir>" or the
// target of a link.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string name = fs::relative(it->path(), root).generic_string();
        if (it->is_symlink())
            tree[name] = "<link " + fs::read_symlink(it->path()).string() + ">";
        else if (it->is_directory())
            tree[name] = "<dir>";
        else
            tree[name] = testing::ReadBytes(it->path());
    }
    return tree;
}

std::map<std::string, std::string> Expected(const std::vector<ArchiveItem>& items) {
    std::map<std::string, std::string> tree;
    for (const ArchiveItem& item : items) {
        std::string name = item.name;
        const bool folder = name.back() == '/';
        if (folder)
            name.pop_back();
        tree[name] = folder ? "<dir>" : item.bytes;
        for (std::size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1))
            tree[name.substr(0, slash)] = "<dir>";
    }
    return tree;
}

// A Windows path text (GBK) for a Linux path below /tmp.
std::string WindowsPath(const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return text;
}

class UnpackArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        state_ = new ArchiveLibraryState;
        LoadBuiltinArchiveLibrary(*state_);
    }
    static void TearDownTestSuite() {
        delete state_;
        state_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(state_->ready); }

    bool Unpack(const fs::path& archive, const fs::path& destination) {
        return UnpackArchive(*state_, WindowsPath(archive), WindowsPath(destination));
    }

    // Makes the sample archive and a destination that already holds a file of its own and an
    // old version of one archived file.
    void PrepareDestination() {
        fs::create_directories(destination_ / "set");
        testing::WriteBytes(destination_ / "keep.txt", "mine");
        testing::WriteBytes(destination_ / "set/TreeList.mdb", "old catalogue");
    }

    static ArchiveLibraryState* state_;
    TempFolder work_{"vm-unpack"};
    fs::path archive_ = work_ / "a.7z";
    fs::path destination_ = work_ / "dest";
};

ArchiveLibraryState* UnpackArchiveTest::state_ = nullptr;

TEST_F(UnpackArchiveTest, UnpacksChineseNamesByteForByteIntoANewFolderTwoLevelsDeep) {
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    const fs::path target = work_ / Utf8(u8"新目录") / "two";
    // GBK text with a trailing "\", as the program passes it.
    const std::string folder = WindowsPath(work_.path()) + "\\" + "新目录\\two\\";
    ASSERT_TRUE(UnpackArchive(*state_, WindowsPath(archive_), folder));
    EXPECT_EQ(Tree(target), Expected(SampleItems()));
    // Both levels were made, and no staging folder is left anywhere.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(work_.path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"a.7z", Utf8(u8"新目录")}));
    EXPECT_EQ(Tree(work_ / Utf8(u8"新目录")).size(), Expected(SampleItems()).size() + 1);
}

TEST_F(UnpackArchiveTest, UnpacksEveryCoderItSupports) {
    const struct {
        const char* what;
        std::vector<std::string> switches;
    } cases[] = {
        {"LZMA2 solid", {"-ms=on"}}, {"LZMA2 not solid", {"-ms=off"}}, {"LZMA", {"-m0=LZMA"}},
        {"PPMd", {"-m0=PPMd"}},      {"BZip2", {"-m0=BZip2"}},         {"Deflate", {"-m0=Deflate"}},
        {"stored", {"-mx=0"}},       {"BCJ + LZMA2", {"-mf=BCJ"}},     {"BCJ2", {"-mf=BCJ2"}},
        {"Delta", {"-mf=Delta:4"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(MakeSevenZip(archive_, SampleItems(), c.switches)) << c.what;
        fs::remove_all(destination_);
        EXPECT_TRUE(Unpack(archive_, destination_)) << c.what;
        EXPECT_EQ(Tree(destination_), Expected(SampleItems())) << c.what;
    }
}

TEST_F(UnpackArchiveTest, ReplacesFilesAndKeepsTheRest) {
    PrepareDestination();
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    ASSERT_TRUE(Unpack(archive_, destination_));
    std::map<std::string, std::string> expected = Expected(SampleItems());
    expected["keep.txt"] = "mine";
    EXPECT_EQ(Tree(destination_), expected);
    // Again over its own result: same tree.
    ASSERT_TRUE(Unpack(archive_, destination_));
    EXPECT_EQ(Tree(destination_), expected);
}

TEST_F(UnpackArchiveTest, HostileEntriesChangeNothing) {
    const std::string stored = "/" + (work_ / "src/x.txt").relative_path().string();
    const struct {
        const char* what;
        std::string storedName; // empty: a symbolic link entry
    } cases[] = {
        {"parent folder", "../evil.txt"},
        {"parent below a folder", "a/../../evil.txt"},
        {"backslash parent", "a\\..\\..\\evil.txt"},
        {"parent at the end", "a/.."},
        {"absolute", "/tmp/evil.txt"},
        {"drive", "C:\\evil.txt"},
        {"drive relative", "C:evil.txt"},
        {"root backslash", "\\evil.txt"},
        {"symbolic link", ""},
    };
    for (const auto& c : cases) {
        std::vector<ArchiveItem> items = SampleItems();
        if (c.storedName.empty()) {
            items.push_back({"link", "", "/etc"});
        } else {
            items.push_back({"x.txt", "evil", {}});
        }
        ASSERT_TRUE(MakeSevenZip(archive_, items)) << c.what;
        if (!c.storedName.empty()) {
            ASSERT_TRUE(testing::RenameSevenZipEntry(archive_, "x.txt", c.storedName)) << c.what;
        }
        fs::remove_all(destination_);
        PrepareDestination();
        const auto before = Tree(work_.path());
        EXPECT_FALSE(Unpack(archive_, destination_)) << c.what;
        EXPECT_EQ(Tree(work_.path()), before) << c.what;
        EXPECT_FALSE(fs::exists("/tmp/evil.txt")) << c.what;
    }
}

TEST_F(UnpackArchiveTest, NeverWritesThroughALinkOrOverAFolder) {
    const fs::path outside = work_ / "outside";
    fs::create_directories(outside);
    const struct {
        const char* what;
        std::function<void()> prepare;
    } cases[] = {
        {"folder is a link", [&] { fs::create_directory_symlink(outside, destination_ / "set"); }},
        {"file is a link",
         [&] {
             fs::create_directories(destination_ / "set");
             testing::WriteBytes(outside / "target", "outside");
             fs::create_symlink(outside / "target", destination_ / "set/TreeList.mdb");
         }},
        {"folder where a file goes", [&] { fs::create_directories(destination_ / "empty.txt"); }},
        {"file where a folder goes", [&] { testing::WriteBytes(destination_ / "folder", "f"); }},
    };
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    for (const auto& c : cases) {
        fs::remove_all(destination_);
        fs::remove_all(outside);
        fs::create_directories(outside);
        fs::create_directories(destination_);
        testing::WriteBytes(destination_ / "keep.txt", "mine");
        c.prepare();
        const auto before = Tree(work_.path());
        EXPECT_FALSE(Unpack(archive_, destination_)) << c.what;
        EXPECT_EQ(Tree(work_.path()), before) << c.what;
    }
}

TEST_F(UnpackArchiveTest, DamagedOrUnsupportedArchivesChangeNothing) {
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    const std::string good = testing::ReadBytes(archive_);
    std::string flipped = good;
    for (std::size_t i = 100; i < 200; ++i)
        flipped[i] = static_cast<char>(~flipped[i]);
    const struct {
        const char* what;
        std::string bytes;                 // used when switches is empty
        std::vector<std::string> switches; // otherwise: made by 7zz with these
    } cases[] = {
        {"empty file", "", {}},
        {"not an archive", "just text, no archive at all", {}},
        {"signature only", good.substr(0, 32), {}},
        {"truncated in the middle", good.substr(0, good.size() / 2), {}},
        {"last bytes cut", good.substr(0, good.size() - 10), {}},
        {"damaged data", flipped, {}},
        {"encrypted", "", {"-pSecret"}},
        {"encrypted names", "", {"-pSecret", "-mhe=on"}},
        {"BCJ + PPMd", "", {"-m0=BCJ", "-m1=PPMd"}},
        {"ARM64 filter", "", {"-mf=ARM64"}},
    };
    for (const auto& c : cases) {
        if (c.switches.empty()) {
            testing::WriteBytes(archive_, c.bytes);
        } else {
            ASSERT_TRUE(MakeSevenZip(archive_, SampleItems(), c.switches)) << c.what;
        }
        fs::remove_all(destination_);
        PrepareDestination();
        const auto before = Tree(work_.path());
        EXPECT_FALSE(Unpack(archive_, destination_)) << c.what;
        EXPECT_EQ(Tree(work_.path()), before) << c.what;
    }
}

TEST_F(UnpackArchiveTest, TheCheckSeesEverythingStagedAndARefusalChangesNothing) {
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    PrepareDestination();
    const auto before = Tree(destination_);
    std::map<std::string, std::string> seen;
    std::string stagedFolder;
    const bool unpacked = UnpackArchiveChecked(
        *state_, WindowsPath(archive_), WindowsPath(destination_), [&](const std::string& staged) {
            stagedFolder = staged;
            seen = Tree(::vm::fs::ToLinuxPath(staged));
            return false;
        });
    EXPECT_FALSE(unpacked);
    EXPECT_EQ(seen, Expected(SampleItems()));
    ASSERT_FALSE(stagedFolder.empty());
    EXPECT_EQ(stagedFolder.back(), '\\');
    EXPECT_FALSE(fs::exists(::vm::fs::ToLinuxPath(stagedFolder))); // the staging folder is gone
    EXPECT_EQ(Tree(destination_), before);
    for (const auto& entry : fs::directory_iterator(work_.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".dest")) << entry.path();

    // An approving check may change what it approves; the change is what lands.
    ASSERT_TRUE(UnpackArchiveChecked(
        *state_, WindowsPath(archive_), WindowsPath(destination_), [](const std::string& staged) {
            testing::WriteBytes(::vm::fs::ToLinuxPath(staged + "empty.txt"), "changed");
            return true;
        }));
    EXPECT_EQ(testing::ReadBytes(destination_ / "empty.txt"), "changed");
    EXPECT_EQ(testing::ReadBytes(destination_ / "keep.txt"), "mine");

    // A damaged archive never reaches the check; a check that throws refuses.
    bool called = false;
    testing::WriteBytes(work_ / "bad.7z", "7z\xBC\xAF\x27\x1C garbage");
    EXPECT_FALSE(UnpackArchiveChecked(*state_, WindowsPath(work_ / "bad.7z"),
                                      WindowsPath(destination_), [&](const std::string&) {
                                          called = true;
                                          return true;
                                      }));
    EXPECT_FALSE(called);
    EXPECT_FALSE(
        UnpackArchiveChecked(*state_, WindowsPath(archive_), WindowsPath(destination_),
                             [](const std::string&) -> bool { throw std::runtime_error("x"); }));
}

TEST_F(UnpackArchiveTest, OnlyARegularFileIsReadAsAnArchive) {
    fs::create_directories(destination_);
    const fs::path fifo = work_ / "fifo.7z";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A FIFO nobody writes to would block the reader for ever.
    EXPECT_FALSE(Unpack(fifo, destination_));
    fs::create_symlink("/dev/zero", work_ / "zero.7z");
    EXPECT_FALSE(Unpack(work_ / "zero.7z", destination_));
    fs::create_directories(work_ / "folder.7z");
    EXPECT_FALSE(Unpack(work_ / "folder.7z", destination_));
    EXPECT_TRUE(fs::is_empty(destination_));
}

TEST_F(UnpackArchiveTest, AFolderCrcIsCheckedOverTheWholeStream) {
    const std::vector<ArchiveItem> files = {{"a.txt", RandomBytes(3000, 5), {}},
                                            {"b.bin", RandomBytes(70000, 6), {}},
                                            {"c.txt", "the third", {}}};
    PrepareDestination();
    const auto before = Tree(destination_);
    testing::WriteBytes(archive_, testing::FolderCrcSevenZip(files));
    ASSERT_TRUE(Unpack(archive_, destination_));
    for (const ArchiveItem& file : files)
        EXPECT_EQ(testing::ReadBytes(destination_ / file.name), file.bytes) << file.name;

    // One changed byte anywhere in the stream, which no file CRC covers.
    for (const long at : {0L, 2999L, 3000L, 50000L, 73008L}) {
        fs::remove_all(destination_);
        PrepareDestination();
        testing::WriteBytes(archive_, testing::FolderCrcSevenZip(files, at));
        EXPECT_FALSE(Unpack(archive_, destination_)) << at;
        EXPECT_EQ(Tree(destination_), before) << at;
    }
    // One file alone in its folder.
    testing::WriteBytes(archive_, testing::FolderCrcSevenZip({files[1]}, 10));
    EXPECT_FALSE(Unpack(archive_, destination_));
    testing::WriteBytes(archive_, testing::FolderCrcSevenZip({files[1]}));
    EXPECT_TRUE(Unpack(archive_, destination_));
}

TEST_F(UnpackArchiveTest, FailsWithoutArchiveLibraryOrDestination) {
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    const ArchiveLibraryState unloaded;
    EXPECT_FALSE(UnpackArchive(unloaded, WindowsPath(archive_), WindowsPath(destination_)));
    EXPECT_FALSE(fs::exists(destination_));
    EXPECT_FALSE(Unpack(work_ / "missing.7z", destination_));
    EXPECT_FALSE(Unpack(work_.path(), destination_)) << "a folder is no archive";
    EXPECT_FALSE(UnpackArchive(*state_, WindowsPath(archive_), "C:\\elsewhere\\"));
    EXPECT_FALSE(UnpackArchive(*state_, WindowsPath(archive_), WindowsPath(work_ / "a/../b")));
    testing::WriteBytes(work_ / "file", "x");
    EXPECT_FALSE(Unpack(archive_, work_ / "file" / "below"));
}

TEST_F(UnpackArchiveTest, WorksFromAnotherThreadAndLeavesTheLocaleAlone) {
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    bool unpacked = false;
    std::thread worker([&] { unpacked = Unpack(archive_, destination_); });
    worker.join();
    EXPECT_TRUE(unpacked);
    EXPECT_EQ(Tree(destination_), Expected(SampleItems()));
    EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), before);
}

TEST_F(UnpackArchiveTest, List7zNamesTheEntriesInGbk) {
    ASSERT_TRUE(MakeSevenZip(archive_, SampleItems()));
    ASSERT_NE(state_->list7zAddress, 0u);
    std::vector<std::string> names;
    const auto visit = +[](const char* name, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(name);
        return 0;
    };
    using Visit = int (*)(const char*, void*);
    const std::string path = WindowsPath(archive_);
    const int count = CallAddress<int, const char*, Visit, void*>(state_->list7zAddress,
                                                                  path.c_str(), visit, &names);
    EXPECT_EQ(count, static_cast<int>(names.size()));
    EXPECT_NE(std::find(names.begin(), names.end(), "资源目录\\测试.txt"), names.end());
    testing::WriteBytes(archive_, "damaged");
    EXPECT_EQ((CallAddress<int, const char*, Visit, void*>(state_->list7zAddress, path.c_str(),
                                                           visit, &names)),
              -1);
}

TEST(ArchiveLibraryTest, StartUpLoadsTheBuiltInLibrary) {
    ArchiveLibraryState& state = ProgramArchiveLibrary();
    EXPECT_FALSE(state.ready);
    ASSERT_TRUE(LoadBuiltinArchiveLibrary(state));
    EXPECT_NE(state.list7zAddress, 0u);
    EXPECT_NE(state.unpack7zAddress, 0u);
    state.library.Unload();
    EXPECT_FALSE(state.library.IsLoaded());

    // A library that fails to load leaves both addresses at 0.
    ArchiveLibraryState failed;
    EXPECT_FALSE(LoadArchiveLibrary(failed, "MZ not really"));
    EXPECT_EQ(failed.list7zAddress, 0u);
    EXPECT_EQ(failed.unpack7zAddress, 0u);
}

} // namespace
} // namespace vm::sys
