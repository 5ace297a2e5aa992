#include "platform/kernel/Process.h"
#include "ChildProcess.h"
#include "TempFolder.h"
#include "platform/fs/Path.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vm::kernel {
namespace {

namespace stdfs = std::filesystem;

// Records how it was started into "<its folder>/run.txt", written whole by a rename.
constexpr const char* kRecorder = R"sh(#!/bin/sh
out="$(dirname "$0")/run.txt"
{
  echo "program=$(basename "$0")"
  echo "cwd=$(pwd)"
  echo "stdin=$(readlink /proc/$$/fd/0)"
  if [ -e /proc/$$/fd/50 ]; then echo "fd50=open"; else echo "fd50=closed"; fi
  for a in "$@"; do echo "arg=[$a]"; done
} > "$out.tmp" && mv "$out.tmp" "$out"
)sh";

constexpr const char* kLooper = "#!/bin/sh\nwhile :; do sleep 1; done\n";

void WriteExecutable(const stdfs::path& path, const std::string& content) {
    stdfs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    stdfs::permissions(path, stdfs::perms::owner_all | stdfs::perms::group_read);
}

// The Windows path text (GBK) of a Linux path.
std::string Windows(const stdfs::path& path) {
    return fs::FromLinuxPath(path.string());
}

std::string ReadRecord(const stdfs::path& folder) {
    const stdfs::path record = folder / "run.txt";
    if (!WaitDispatching(5000, [&] { return stdfs::exists(record); }))
        return "(not run)";
    std::ifstream in(record);
    std::stringstream text;
    text << in.rdbuf();
    stdfs::remove(record);
    return text.str();
}

std::optional<std::string> SnapshotName(int pid) {
    for (const ProcessEntry& entry : ProcessSnapshot())
        if (entry.pid == pid)
            return entry.exeFile;
    return std::nullopt;
}

bool Gone(int pid) {
    return WaitDispatching(5000, [&] { return !SnapshotName(pid); });
}

class StartProcessTest : public ::testing::Test {
protected:
    const stdfs::path& root() const { return folder_.path(); }

private:
    test::TempFolder folder_;
};

TEST_F(StartProcessTest, UnquotedProgramPathWithBlanksResolvesAgainstRealFiles) {
    // "Program Files\sub" is a folder, not a file: the search goes on to the longer prefix.
    stdfs::create_directories(root() / "Program Files" / "sub");
    WriteExecutable(root() / "Program Files" / "sub dir" / "my tool", kRecorder);
    const int pid = StartProcess(Windows(root()) + "\\Program Files\\sub dir\\my tool a1 \"a 2\"");
    ASSERT_GT(pid, 0);
    const std::string run = ReadRecord(root() / "Program Files" / "sub dir");
    EXPECT_NE(run.find("program=my tool\n"), std::string::npos) << run;
    EXPECT_NE(run.find("arg=[a1]\narg=[a 2]\n"), std::string::npos) << run;
}

TEST_F(StartProcessTest, ShortestExistingPrefixWinsAndExeIsAppended) {
    WriteExecutable(root() / "a" / "run.exe", kRecorder);
    WriteExecutable(root() / "a" / "run.exe more", kRecorder);
    ASSERT_GT(StartProcess(Windows(root()) + "\\a\\run more stuff"), 0);
    const std::string run = ReadRecord(root() / "a");
    EXPECT_NE(run.find("program=run.exe\n"), std::string::npos) << run;
    EXPECT_NE(run.find("arg=[more]\narg=[stuff]\n"), std::string::npos) << run;
}

TEST_F(StartProcessTest, QuotedProgramAndGbkTextsReachTheProgramAsUtf8) {
    // "\x95\x5C" ends in the byte of "\": it must stay one character of the folder name.
    const std::string gbkFolder = "\x95\x5C\xD6\xD0";
    const stdfs::path folder = root() / text::GbkToUtf8(gbkFolder) / "with blank";
    WriteExecutable(folder / "rec", kRecorder);
    const std::string line =
        "\"" + Windows(root()) + "\\" + gbkFolder + "\\with blank\\rec\" " + "\xCE\xC4 \"x\\\"y\"";
    ASSERT_GT(StartProcess(line), 0);
    const std::string run = ReadRecord(folder);
    EXPECT_NE(run.find("arg=[" + text::GbkToUtf8("\xCE\xC4") + "]\narg=[x\"y]\n"),
              std::string::npos)
        << run;
}

TEST_F(StartProcessTest, ChildGetsOnlyItsStandardDescriptorsAndTheWorkingFolder) {
    WriteExecutable(root() / "rec", kRecorder);
    stdfs::create_directories(root() / "work");
    // A descriptor someone forgot to mark close-on-exec must still not reach the child.
    const int leaky = ::fcntl(::open("/dev/null", O_RDONLY), F_DUPFD, 50);
    ASSERT_EQ(leaky, 50);
    const int pid = StartProcess(Windows(root() / "rec"), {Windows(root() / "work")});
    ::close(leaky);
    ASSERT_GT(pid, 0);
    const std::string run = ReadRecord(root());
    EXPECT_NE(run.find("cwd=" + (root() / "work").string() + "\n"), std::string::npos) << run;
    EXPECT_NE(run.find("stdin=/dev/null\n"), std::string::npos) << run;
    EXPECT_NE(run.find("fd50=closed\n"), std::string::npos) << run;
}

TEST_F(StartProcessTest, NothingToStartGivesZero) {
    stdfs::create_directories(root() / "folder");
    WriteExecutable(root() / "plain", "not a program");
    stdfs::permissions(root() / "plain", stdfs::perms::owner_read);
    EXPECT_EQ(StartProcess(""), 0);
    EXPECT_EQ(StartProcess("   "), 0);
    EXPECT_EQ(StartProcess(Windows(root() / "missing") + " a"), 0);
    EXPECT_EQ(StartProcess(Windows(root() / "folder")), 0);
    EXPECT_EQ(StartProcess("C:\\Windows\\notepad.exe"), 0);
    // Not even root may execute a file without any execute bit.
    EXPECT_EQ(StartProcess(Windows(root() / "plain")), 0);
    EXPECT_EQ(Spawn("", {}), 0);
}

TEST_F(StartProcessTest, SnapshotNamesTerminateEnds) {
    stdfs::copy_file("/bin/sleep", root() / "my dir" / "Vm Sleeper.exe",
                     (stdfs::create_directories(root() / "my dir"), stdfs::copy_options{}));
    const int pid = StartProcess(Windows(root()) + "\\my dir\\Vm Sleeper.exe 30");
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitForInputIdle(pid, 1000));
    EXPECT_EQ(SnapshotName(pid), "Vm Sleeper.exe");
    EXPECT_TRUE(TerminateProcess(pid));
    // Ended and reaped: no zombie stays behind. The snapshot drops a zombie at once, but the
    // reaping thread may get to it a moment later; that moment is what is waited for.
    EXPECT_TRUE(Gone(pid));
    const std::string proc = "/proc/" + std::to_string(pid);
    EXPECT_TRUE(WaitDispatching(5000, [&] { return !stdfs::exists(proc); }));
    EXPECT_FALSE(WaitForInputIdle(pid, 1000));
}

TEST_F(StartProcessTest, ScriptIsNamedAfterItselfNotItsInterpreter) {
    WriteExecutable(root() / "up.exe", kLooper);
    const int pid = StartProcess(Windows(root() / "up.exe") + " http://127.0.0.1/x a\\[k]b 3");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitDispatching(5000, [&] { return SnapshotName(pid) == "up.exe"; }))
        << SnapshotName(pid).value_or("(none)");
    EXPECT_TRUE(TerminateProcess(pid));
    EXPECT_TRUE(Gone(pid));
}

TEST_F(StartProcessTest, ReplacedExecutableKeepsItsName) {
    stdfs::copy_file("/bin/sleep", root() / "gone.exe");
    const int pid = StartProcess(Windows(root() / "gone.exe") + " 30");
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitDispatching(5000, [&] { return SnapshotName(pid) == "gone.exe"; }));
    stdfs::remove(root() / "gone.exe");
    EXPECT_EQ(SnapshotName(pid), "gone.exe");
    EXPECT_TRUE(TerminateProcess(pid));
}

TEST(Spawn, ReapsOnlyItsOwnChildren) {
    // A child someone else started and waits for must keep its exit status.
    test::ChildProcess theirs({"/bin/sh", "-c", "sleep 0.3; exit 7"});
    ASSERT_GT(theirs.pid(), 0);
    std::vector<int> ours;
    for (int i = 0; i < 5; ++i)
        ours.push_back(Spawn("true", {}));
    for (const int pid : ours) {
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(
            WaitDispatching(5000, [&] { return !stdfs::exists("/proc/" + std::to_string(pid)); }))
            << "zombie " << pid;
    }
    EXPECT_EQ(theirs.WaitExit(5000), 7);
}

} // namespace
} // namespace vm::kernel
