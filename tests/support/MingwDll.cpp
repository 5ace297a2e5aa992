#include "support/MingwDll.h"

#include "support/SevenZip.h"
#include "support/TempFolder.h"

namespace vm::testing {

bool MingwAvailable() {
    return RunProgram({"i686-w64-mingw32-gcc", "--version"}) == 0;
}

std::string BuildMingwDll(const std::filesystem::path& workFolder, const MingwDllSpec& spec) {
    WriteBytes(workFolder / "dll.c", spec.cSource);
    WriteBytes(workFolder / "dll.def", spec.exportsDef);
    std::vector<std::string> arguments = {"i686-w64-mingw32-gcc",
                                          "-shared",
                                          "-nostdlib",
                                          "-nostartfiles",
                                          "-s",
                                          "-O1",
                                          "-o",
                                          "fixture.dll",
                                          "dll.c",
                                          "dll.def",
                                          "-Wl,--image-base," + spec.imageBase};
    arguments.push_back("-Wl,-e," + (spec.entry.empty() ? std::string("0") : spec.entry));
    for (std::size_t i = 0; i < spec.importDefs.size(); ++i) {
        const std::string def = "import" + std::to_string(i) + ".def";
        const std::string library = "libimport" + std::to_string(i) + ".a";
        WriteBytes(workFolder / def, spec.importDefs[i]);
        // -k drops the @n decoration from the names the DLL imports, as Windows' own
        // libraries export them.
        if (RunProgram({"i686-w64-mingw32-dlltool", "-k", "-d", def, "-l", library}, workFolder) !=
            0)
            return {};
        arguments.push_back(library);
    }
    if (RunProgram(arguments, workFolder) != 0)
        return {};
    return ReadBytes(workFolder / "fixture.dll");
}

} // namespace vm::testing
