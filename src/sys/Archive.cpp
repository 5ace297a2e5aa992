#include "sys/Archive.h"

#include "platform/archive/ArchiveLibrary.h"
#include "platform/fs/File.h"
#include "platform/text/Gbk.h"
#include "sys/CallAddress.h"
#include "sys/Process.h"

namespace vm::sys {

bool LoadArchiveLibrary(ArchiveLibraryState& state, const std::string& image) {
    state.ready = state.library.LoadFromMemory(image);
    if (state.ready) {
        state.list7zAddress = state.library.GetExport("List7z");
        state.unpack7zAddress = state.library.GetExport("unpack7z");
    }
    return state.ready;
}

bool LoadBuiltinArchiveLibrary(ArchiveLibraryState& state) {
    return LoadArchiveLibrary(state, std::string(archive::BuiltinArchiveLibraryImage()));
}

ArchiveLibraryState& ProgramArchiveLibrary() {
    static ArchiveLibraryState state;
    return state;
}

bool UnpackArchive(const ArchiveLibraryState& state, std::string_view archivePath,
                   std::string_view destinationFolder) {
    // Only native code can be called here; a PE32 image's exports are 32-bit code.
    if (state.unpack7zAddress == 0 || state.library.Kind() != ImageKind::Elf)
        return false;
    if (!fs::Exists(archivePath) || fs::IsFolder(archivePath))
        return false;
    if (text::EndsWithChar(destinationFolder, '\\'))
        destinationFolder.remove_suffix(1);
    if (!fs::IsFolder(destinationFolder) && CreateFolderPath(destinationFolder) == 1)
        return false;
    const std::string archive(archivePath);
    const std::string folder(destinationFolder);
    return CallAddress<int, const char*, const char*, int>(state.unpack7zAddress, archive.c_str(),
                                                           folder.c_str(), 1) == 0;
}

bool UnpackArchive(std::string_view archivePath, std::string_view destinationFolder) {
    return UnpackArchive(ProgramArchiveLibrary(), archivePath, destinationFolder);
}

} // namespace vm::sys
