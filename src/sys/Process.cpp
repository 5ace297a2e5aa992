#include "sys/Process.h"

#include "platform/fs/File.h"
#include "platform/kernel/Process.h"
#include "platform/shell/Shell.h"
#include "platform/text/Gbk.h"

#include <vector>

namespace vm::sys {
namespace {

bool SameName(std::string_view a, std::string_view b, bool caseSensitive) {
    return caseSensitive ? a == b : text::EqualsNoCase(a, b);
}

// A drive: exactly two characters, the second ":".
bool IsDrive(std::string_view piece) {
    return text::CharCount(piece) == 2 && piece.size() == 2 && piece[1] == ':';
}

} // namespace

int ProcessIdByName(std::string_view name, bool caseSensitive) {
    for (const kernel::ProcessEntry& entry : kernel::ProcessSnapshot())
        if (SameName(entry.exeFile, name, caseSensitive))
            return entry.pid;
    return 0;
}

bool ProcessExists(std::string_view name, bool caseSensitive) {
    return ProcessIdByName(name, caseSensitive) != 0;
}

bool TerminateProcessByName(std::string_view name, bool caseSensitive) {
    const int pid = ProcessIdByName(name, caseSensitive);
    return pid != 0 && kernel::TerminateProcess(pid);
}

int CreateFolderPath(std::string_view path) {
    const std::vector<std::string> pieces = text::Split(path, "\\");
    if (pieces.size() < 2 || !IsDrive(pieces[0]))
        return 1;
    std::string current = pieces[0];
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        if (piece.empty() || piece == "." || piece == "..")
            return 1;
        current += "\\" + piece;
        if (fs::IsFolder(current)) {
            if (i + 1 == pieces.size())
                return 2;
            continue;
        }
        if (!fs::CreateFolder(current))
            return 1;
    }
    return 0;
}

kernel::Thread StartThread(std::function<void(std::int32_t)> procedure, std::int32_t argument) {
    if (!procedure)
        return {};
    return kernel::StartThread(
        [procedure = std::move(procedure), argument] { procedure(argument); });
}

bool RunCommandThread(std::string commandLine) {
    return shell::RunCommandLine(commandLine);
}

kernel::Thread StartCommandThread(std::string commandLine) {
    return kernel::StartThread(
        [commandLine = std::move(commandLine)] { RunCommandThread(commandLine); });
}

std::string EscapeBlanks(std::string_view text) {
    return text::ReplaceAll(text, " ", "\\[k]");
}

} // namespace vm::sys
