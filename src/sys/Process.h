#pragma once
// Process and thread helpers: finding and ending processes by executable name, creating a
// folder path, starting threads and command lines, and the blank escape of the download
// engine's arguments.

#include "platform/kernel/Thread.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vm::sys {

// True when a running process has the executable file name `name` (name and extension, no
// folder). Without `caseSensitive`, ASCII letters compare regardless of case.
bool ProcessExists(std::string_view name, bool caseSensitive = false);
// The process ID of the first process with that name; 0 when none.
int ProcessIdByName(std::string_view name, bool caseSensitive = false);
// Ends the first process with that name. True when it was ended.
bool TerminateProcessByName(std::string_view name, bool caseSensitive = false);

// Creates a folder with every missing parent: 0 created, 2 already existed, 1 error. The path
// starts with a drive ("Z:"); ".", ".." and empty pieces are errors.
int CreateFolderPath(std::string_view path);

// Starts `procedure(argument)` on a new thread. The handle is invalid when no thread could be
// started; dropping it lets the thread run on.
kernel::Thread StartThread(std::function<void(std::int32_t)> procedure, std::int32_t argument);

// Starts a command line as the program's own processes are started (the file manager for
// "Explorer /select, <path>", otherwise a new process), gives it up to 1000 ms to become idle
// and returns without waiting for it. True when something was started.
bool RunCommandThread(std::string commandLine);
// RunCommandThread on a thread of its own, which keeps its own copy of the command line.
kernel::Thread StartCommandThread(std::string commandLine);

// Every blank becomes the four characters "\[k]", so that a path with blanks stays one
// argument of the download engine's command line.
std::string EscapeBlanks(std::string_view text);

} // namespace vm::sys
