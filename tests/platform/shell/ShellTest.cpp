#include "platform/shell/Shell.h"
#include "OpenerRecorder.h"
#include "platform/fs/Path.h"
#include "platform/kernel/TempFolder.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vm::shell {
namespace {

namespace stdfs = std::filesystem;
using Lines = std::vector<std::string>;

// GBK "中文"; on disk and on the opener's command line it is UTF-8.
const std::string kChinese = "\xD6\xD0\xCE\xC4";

constexpr const char* kRecorder = R"sh(#!/bin/sh
out="$(dirname "$0")/run.txt"
{
  echo "cwd=$(pwd)"
  for a in "$@"; do echo "arg=[$a]"; done
} > "$out.tmp" && mv "$out.tmp" "$out"
)sh";

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { test::OpenerRecorder::Instance().Clear(); }

    const stdfs::path& root() const { return folder_.path(); }
    static std::string Windows(const stdfs::path& path) { return fs::FromLinuxPath(path.string()); }
    static Lines Opened(std::size_t count = 1) {
        return test::OpenerRecorder::Instance().WaitFor(count);
    }
    static Lines OpenedNow() { return test::OpenerRecorder::Instance().Lines(); }

    stdfs::path MakeFile(const stdfs::path& path, const std::string& content = "x") {
        stdfs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string ReadRun(const stdfs::path& folder) {
        const stdfs::path record = folder / "run.txt";
        if (!kernel::WaitDispatching(5000, [&] { return stdfs::exists(record); }))
            return "(not run)";
        std::ifstream in(record);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    test::TempFolder folder_;
};

TEST_F(ShellTest, OpenAddressHandsTheAddressToTheOpener) {
    EXPECT_TRUE(OpenAddress("  http://127.0.0.1:8080/s?q=" + kChinese + "&page=2 "));
    EXPECT_EQ(Opened(),
              Lines{"http://127.0.0.1:8080/s?q=" + text::GbkToUtf8(kChinese) + "&page=2"});

    test::OpenerRecorder::Instance().Clear();
    EXPECT_TRUE(OpenAddress("www.example.org/a"));
    EXPECT_EQ(Opened(), Lines{"http://www.example.org/a"});

    // Nothing to open, or a text the opener would take for an option.
    EXPECT_FALSE(OpenAddress(""));
    EXPECT_FALSE(OpenAddress("  "));
    EXPECT_FALSE(OpenAddress("--help"));
}

TEST_F(ShellTest, ShellExecuteOpensAddressesDocumentsAndFolders) {
    const stdfs::path folder = root() / ("docs " + text::GbkToUtf8(kChinese));
    const stdfs::path document = MakeFile(folder / "read me.txt");
    struct Case {
        std::string operation, file, directory;
        int result;
        std::string opened; // "" when nothing may be opened
    };
    const std::vector<Case> cases = {
        {"open", "https://127.0.0.1/x?a=1&b=2", "", 42, "https://127.0.0.1/x?a=1&b=2"},
        {"", "mailto:a@b.c", "", 42, "mailto:a@b.c"},
        {"open", Windows(folder), "", 42, folder.string()},
        {"open", Windows(folder) + "\\", "", 42, folder.string()},
        {"open", Windows(document), "", 42, document.string()},
        {"", "read me.txt", Windows(folder), 42, document.string()},
        {"explore", Windows(document), "", 42, folder.string()},
        {"open", Windows(folder / "missing.txt"), "", 2, ""},
        {"open", Windows(root() / "no folder" / "missing.txt"), "", 3, ""},
        {"open", "C:\\Windows\\win.ini", "", 3, ""},
        {"open", "", "", 2, ""},
    };
    for (const Case& c : cases) {
        test::OpenerRecorder::Instance().Clear();
        EXPECT_EQ(ShellExecute(c.operation, c.file, "", c.directory, 5), c.result) << c.file;
        if (!c.opened.empty())
            EXPECT_EQ(Opened(), Lines{c.opened}) << c.file;
        else
            EXPECT_EQ(OpenedNow(), Lines{}) << c.file;
    }
}

TEST_F(ShellTest, ShellExecuteStartsExecutablesWithParametersInTheirFolder) {
    const stdfs::path tool = MakeFile(root() / "bin dir" / "tool", kRecorder);
    stdfs::permissions(tool, stdfs::perms::owner_all);
    const stdfs::path work = root() / "work";
    stdfs::create_directories(work);
    EXPECT_EQ(ShellExecute("open", Windows(tool), "a \"b c\" " + kChinese, Windows(work), 1), 42);
    EXPECT_EQ(ReadRun(tool.parent_path()), "cwd=" + work.string() + "\narg=[a]\narg=[b c]\narg=[" +
                                               text::GbkToUtf8(kChinese) + "]\n");
    EXPECT_EQ(OpenedNow(), Lines{});

    // A document that merely has an execute bit is opened, not run.
    const stdfs::path document = MakeFile(root() / "page.htm", "<html></html>");
    stdfs::permissions(document, stdfs::perms::owner_all);
    EXPECT_EQ(ShellExecute("open", Windows(document), "", "", 1), 42);
    EXPECT_EQ(Opened(), Lines{document.string()});
}

TEST_F(ShellTest, ExplorerSelectShowsTheFileAndFallsBackToItsFolder) {
    // No session bus answers in these tests, so every request ends with the folder opened.
    const stdfs::path folder = root() / ("res " + text::GbkToUtf8(kChinese));
    const stdfs::path file = MakeFile(folder / "pack 1.zip");
    const std::string path = Windows(file);
    struct Case {
        std::string file, parameters;
    };
    const std::vector<Case> cases = {
        {"Explorer", "/select, " + path},
        {"explorer.exe", "/select,\"" + path + "\""},
        {"C:\\Windows\\EXPLORER.EXE", "/SELECT," + path},
        {"Explorer /select, " + path, ""},
    };
    for (const Case& c : cases) {
        test::OpenerRecorder::Instance().Clear();
        EXPECT_EQ(ShellExecute("open", c.file, c.parameters, "", 1), 42) << c.file << c.parameters;
        EXPECT_EQ(Opened(), Lines{folder.string()}) << c.file << c.parameters;
    }

    test::OpenerRecorder::Instance().Clear();
    EXPECT_TRUE(RunCommandLine("Explorer /select, " + path));
    EXPECT_EQ(Opened(), Lines{folder.string()});

    // A file that is gone: its folder still opens. Nothing at all: a failure.
    test::OpenerRecorder::Instance().Clear();
    EXPECT_TRUE(ShowInFileManager(Windows(folder / "deleted.zip")));
    EXPECT_EQ(Opened(), Lines{folder.string()});
    EXPECT_FALSE(ShowInFileManager(Windows(root() / "none" / "deleted.zip")));
    EXPECT_FALSE(ShowInFileManager("C:\\x.zip"));
    EXPECT_FALSE(RunCommandLine("Explorer /select, "));

    // Explorer given a folder opens it.
    test::OpenerRecorder::Instance().Clear();
    EXPECT_EQ(ShellExecute("open", "explorer", Windows(folder), "", 1), 42);
    EXPECT_EQ(Opened(), Lines{folder.string()});
}

TEST_F(ShellTest, RunCommandLineStartsOtherProgramsWithoutAShell) {
    const stdfs::path tool = MakeFile(root() / "my tools" / "up.exe", kRecorder);
    stdfs::permissions(tool, stdfs::perms::owner_all);
    // "$(...)" and ";" reach the program as text: no shell ever reads the line.
    EXPECT_TRUE(RunCommandLine(Windows(tool) + " http://127.0.0.1/a;b $(id) 3"));
    const std::string run = ReadRun(tool.parent_path());
    EXPECT_NE(run.find("arg=[http://127.0.0.1/a;b]\narg=[$(id)]\narg=[3]\n"), std::string::npos)
        << run;
    EXPECT_FALSE(RunCommandLine(Windows(root() / "missing.exe") + " x"));
    EXPECT_EQ(OpenedNow(), Lines{});
}

} // namespace
} // namespace vm::shell
