#include "sys/Process.h"

#include "platform/fs/File.h"
#include "platform/text/Codepage.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace vm::sys {
namespace {

namespace stdfs = std::filesystem;

TEST(EscapeBlanks, EveryBlankBecomesTheEscape) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"abc", "abc"},
        {"a b", "a\\[k]b"},
        {"a  b", "a\\[k]\\[k]b"},
        {" ", "\\[k]"},
        {"Z:\\\xD7\xCA\xD4\xB4 \xC4\xBF\xC2\xBC\\x y.zip",
         "Z:\\\xD7\xCA\xD4\xB4\\[k]\xC4\xBF\xC2\xBC\\x\\[k]y.zip"},
        // Only the ASCII blank: the full-width blank A1 A1 and tabs stay.
        {"a\xA1\xA1"
         "b\tc",
         "a\xA1\xA1"
         "b\tc"},
    };
    for (const auto& [text, escaped] : cases)
        EXPECT_EQ(EscapeBlanks(text), escaped) << text;
}

TEST(CreateFolderPath, DriveRulesAndResults) {
    const testing::TempFolder temp("vm-sys");
    // Without its trailing "\".
    const std::string root = temp.windowsPath().substr(0, temp.windowsPath().size() - 1);
    std::ofstream(temp / "file") << "x";
    // "\x95\x5C" ends in the byte of "\": still one character of one folder name.
    const std::string gbkName = "\x95\x5C\xD6\xD0";
    struct Case {
        std::string path;
        int result;
    };
    const std::vector<Case> cases = {
        {root, 2},
        {root + "\\", 2},
        {root + "\\a\\b", 0},
        {root + "\\a\\b", 2},
        {root + "\\a\\b\\", 2},
        {root + "\\a\\c", 0},
        {root + "\\" + gbkName + "\\x", 0},
        {"Z:\\", 1},
        {"Z:", 1},
        {"", 1},
        {root.substr(2) + "\\n", 1}, // no drive
        {"ZZ:" + root.substr(2), 1}, // not a drive
        {root + "\\..\\n", 1},
        {root + "\\.\\n", 1},
        {root + "\\\\n", 1},
        {root + "\\file\\n", 1}, // a file is in the way
        {"C:\\vm-sys-test", 1},  // no such drive here
    };
    for (const Case& c : cases)
        EXPECT_EQ(CreateFolderPath(c.path), c.result) << c.path;
    EXPECT_TRUE(stdfs::is_directory(temp / "a" / "b"));
    EXPECT_TRUE(stdfs::is_directory(temp / text::GbkToUtf8(gbkName) / "x"));
    EXPECT_FALSE(stdfs::exists(temp.path().parent_path() / "n"));
}

TEST(StartThread, PassesItsArgument) {
    std::atomic<int> seen = 0;
    kernel::Thread thread = StartThread([&](std::int32_t argument) { seen = argument; }, 48360);
    ASSERT_TRUE(thread.valid());
    EXPECT_TRUE(thread.Join());
    EXPECT_EQ(seen, 48360);
    EXPECT_FALSE(StartThread({}, 0).valid());
}

TEST(ProcessByName, FindsComparesAndEndsTheEngine) {
    const testing::TempFolder temp("vm-sys");
    // A name of our own, so that an engine started by another test never matches.
    const std::string name = "Up-" + std::to_string(::getpid()) + ".exe";
    const stdfs::path engine = temp / ("my engine/" + name);
    stdfs::create_directories(engine.parent_path());
    std::ofstream(engine) << "#!/bin/sh\nwhile :; do sleep 1; done\n";
    stdfs::permissions(engine, stdfs::perms::owner_all);

    const std::string upper = "UP-" + std::to_string(::getpid()) + ".EXE";
    EXPECT_FALSE(ProcessExists(upper));
    EXPECT_EQ(ProcessIdByName(name), 0);
    EXPECT_FALSE(TerminateProcessByName(name));

    // Started as the download engine is: its own thread, its own copy of the command line,
    // the program path unquoted with a blank in it.
    {
        std::string commandLine =
            temp.windowsPath() + "my engine\\" + name + " http://a/b x\\[k]y 3";
        kernel::Thread starter = StartCommandThread(commandLine);
        commandLine.assign(commandLine.size(), '?');
        ASSERT_TRUE(starter.valid());
    }
    ASSERT_TRUE(kernel::WaitDispatching(5000, [&] { return ProcessExists(upper); }));
    EXPECT_FALSE(ProcessExists(upper, true));
    EXPECT_TRUE(ProcessExists(name, true));
    const int pid = ProcessIdByName(upper);
    EXPECT_GT(pid, 0);

    EXPECT_TRUE(TerminateProcessByName(upper));
    EXPECT_TRUE(kernel::WaitDispatching(5000, [&] { return !ProcessExists(name); }));
}

TEST(RunCommandThread, ReportsWhetherAnythingStarted) {
    const testing::TempFolder temp("vm-sys");
    EXPECT_FALSE(RunCommandThread(temp.windowsPath() + "missing.exe a"));
    EXPECT_FALSE(RunCommandThread(""));
    std::ofstream(temp / "ok") << "#!/bin/sh\ntouch \"$(dirname \"$0\")/ran\"\n";
    stdfs::permissions(temp / "ok", stdfs::perms::owner_all);
    EXPECT_TRUE(RunCommandThread(temp.windowsPath() + "ok"));
    EXPECT_TRUE(kernel::WaitDispatching(5000, [&] { return stdfs::exists(temp / "ran"); }));
}

} // namespace
} // namespace vm::sys
