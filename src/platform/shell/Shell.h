#pragma once
// The desktop shell: opening addresses and files with the user's applications, showing a file
// in the file manager, and ShellExecuteA's meaning on top of both. Texts are GBK; paths are
// Windows path texts.
//
// Everything is opened through xdg-open, started detached without a shell. The environment
// variable VM_OPENER names another program to use in its place (the tests record calls with
// it, so nothing real opens).

#include <string_view>

namespace vm::shell {

// Opens a web address in the user's browser. False when the address is empty or the opener
// cannot be started. Does not wait for the browser.
bool OpenAddress(std::string_view gbkAddress);

// Shows a file or folder selected in the user's file manager
// (org.freedesktop.FileManager1.ShowItems on the session bus), falling back to opening its
// folder when no file manager answers. The call to the file manager runs on a worker thread,
// so a file manager that is slow to start never stalls the caller. False when neither the item
// nor its folder exists.
bool ShowInFileManager(std::string_view gbkWindowsPath);

// ShellExecuteA: a result above 32 is success. Recognises the file manager ("Explorer" with
// parameters "/select, <path>" or a folder, also as one command-line text in `file`), opens
// addresses and documents with their applications, opens folders, and starts executables
// (ELF files and scripts with an execute bit) with `parameters` in `directory`. `show` has no
// meaning here. Failures: 2 file not found, 3 path not found, 31 nothing could open it.
int ShellExecute(std::string_view operation, std::string_view file, std::string_view parameters,
                 std::string_view directory, int show);

// CreateProcessA for a command-line text as the logic uses it: "Explorer /select, <path>"
// shows the file in the file manager; anything else is started as a process and given up to
// 1000 ms to become idle. True when something was started.
bool RunCommandLine(std::string_view gbkCommandLine);

} // namespace vm::shell
