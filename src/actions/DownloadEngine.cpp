#include "actions/DownloadEngine.h"

#include "sys/Process.h"

namespace vm::actions {

std::string EngineFilePath(std::string_view programFolder) {
    return std::string(programFolder) + std::string(kEngineFileName);
}

std::string EngineCommandLine(std::string_view programFolder, std::string_view address,
                              std::string_view targetPath, long long number) {
    return EngineFilePath(programFolder) + " " + std::string(address) + " " +
           sys::EscapeBlanks(targetPath) + " " + std::to_string(number);
}

} // namespace vm::actions
