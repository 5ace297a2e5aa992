#pragma once
// Real 32-bit Windows DLLs for the tests, built at test time with mingw-w64
// (i686-w64-mingw32-gcc and dlltool from Debian's gcc-mingw-w64-i686).

#include <filesystem>
#include <string>
#include <vector>

namespace vm::testing {

struct MingwDllSpec {
    std::string cSource;                 // the DLL's code
    std::string exportsDef;              // its .def file (EXPORTS ...; "A = other.B" forwards)
    std::vector<std::string> importDefs; // .def texts of host libraries it links against
    std::string entry = "_DllEntry@12";  // entry symbol; "" for none (AddressOfEntryPoint 0)
    std::string imageBase = "0x10000000";
};

// True when the cross compiler is installed.
bool MingwAvailable();

// Builds the DLL in `workFolder` (no C runtime, only what the spec names) and returns its
// bytes; empty when the build failed.
std::string BuildMingwDll(const std::filesystem::path& workFolder, const MingwDllSpec& spec);

} // namespace vm::testing
