#pragma once
// What passes between the program and its separate download engine "up.exe".

#include <string>
#include <string_view>

namespace vm::actions {

// The engine reports a finished download with this window message; wParam is the number given
// on its command line.
constexpr unsigned kDownloadFinishedMessage = 48360;

// The number passed for the program update, which never matches a list page.
constexpr long long kProgramUpdateNumber = -1;

constexpr std::string_view kEngineFileName = "up.exe";

std::string EngineFilePath(std::string_view programFolder);

// ProgramFolder + "up.exe", the address unchanged, the target with every blank written as
// "\[k]", and the number, separated by single blanks.
std::string EngineCommandLine(std::string_view programFolder, std::string_view address,
                              std::string_view targetPath, long long number);

} // namespace vm::actions
