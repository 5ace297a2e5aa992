#pragma once
// Processes: Windows command-line texts started without a shell, the process snapshot, and
// ending a process.

#include <string>
#include <string_view>
#include <vector>

namespace vm::kernel {

// Splits a GBK command-line text by the Windows rules: the program token is quoted (up to the
// next quote, no escapes) or runs to the first blank; the arguments follow CommandLineToArgvW
// (2n backslashes + quote -> n backslashes and a quote toggle, 2n+1 -> n backslashes and a
// literal quote, other backslashes literal, "" inside quotes -> a literal quote). A two-byte
// character whose trail byte is 0x5C is never a backslash. Empty text gives no pieces.
std::vector<std::string> SplitCommandLine(std::string_view gbkCommandLine);

struct StartOptions {
    // Working folder of the new process as a Windows path text; empty keeps ours.
    std::string gbkWorkingFolder;
};

// Starts a GBK command-line text as CreateProcessA does without an application name, with
// posix_spawn and never a shell. An unquoted program path containing blanks is resolved by
// trying each prefix that ends at a blank, shortest first, as given and with ".exe"; the first
// existing file wins. A bare name is looked up in the working folder, then in PATH. The child
// runs in its own session, inherits only descriptors 0-2 (stdin is /dev/null) and is reaped
// when it ends. Returns its pid, 0 on failure.
int StartProcess(std::string_view gbkCommandLine, const StartOptions& options = {});

// Starts a program with UTF-8 arguments as they are (no command-line parsing), the same way.
// `program` without "/" is searched in PATH. Returns the pid, 0 on failure.
int Spawn(const std::string& program, const std::vector<std::string>& arguments,
          const std::string& workingFolder = {});

// Linux has no input-idle state: true at once while the process exists, false otherwise.
bool WaitForInputIdle(int pid, int timeoutMs);

struct ProcessEntry {
    int pid = 0;
    std::string exeFile; // GBK file name of the executable, no folder
};

// Every process this user can see, from /proc. The name is the executable's file name; for a
// script started through an interpreter (sh, python, perl, ...) it is the script's file name,
// as the script is the program the user started. Kernel threads and zombies are left out.
std::vector<ProcessEntry> ProcessSnapshot();

// Ends the process at once (SIGKILL). False for pid <= 0, which would address a whole group.
bool TerminateProcess(int pid);

} // namespace vm::kernel
